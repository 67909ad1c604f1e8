#include "app/fltk/file_choice_window.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include "app/app_texts.h"
#include "app/desktop/layout.h"
#include "app/fltk/widgets.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

constexpr int kRowHeight = 20;
constexpr int kPad = 4;    // before the first column and after the sizes
constexpr int kSign = 12;  // the folder's triangle
constexpr int kBox = 13;   // the check box
constexpr int kGap = 6;    // between the check box, the name and the size
// However deep a share nests, the name keeps this much of the row.
constexpr int kLeastNameWidth = 120;

// The filter box, showing what a filter looks like in grey while it is empty
// and the keyboard is elsewhere.
class CueInput : public Fl_Input {
 public:
  CueInput(int x, int y, int w, int h, const std::string& cue)
      : Fl_Input(x, y, w, h), cue_(gbk_to_utf8(cue)) {}

 protected:
  void draw() override {
    Fl_Input::draw();
    if (size() > 0 || Fl::focus() == this) return;
    const Fl_Boxtype frame = box();
    constexpr int kIndent = 3;  // where the toolkit starts the text
    fl_font(textfont(), textsize());
    fl_color(FL_INACTIVE_COLOR);
    fl_draw(cue_.c_str(), x() + Fl::box_dx(frame) + kIndent, y() + Fl::box_dy(frame),
            w() - Fl::box_dw(frame) - 2 * kIndent, h() - Fl::box_dh(frame),
            FL_ALIGN_LEFT | FL_ALIGN_CLIP, nullptr, 0);
  }
  int handle(int event) override {
    if (event == FL_FOCUS || event == FL_UNFOCUS) redraw();
    return Fl_Input::handle(event);
  }

 private:
  std::string cue_;
};

// A right-pointing triangle for a closed folder, a down-pointing one for an
// open folder, centred on x, y.
void draw_sign(int x, int y, bool open, Fl_Color colour) {
  fl_color(colour);
  if (open) {
    fl_polygon(x - 5, y - 2, x + 5, y - 2, x, y + 3);
  } else {
    fl_polygon(x - 2, y - 5, x + 3, y, x - 2, y + 5);
  }
}

void draw_check_box(int x, int y, CheckState check) {
  fl_color(FL_WHITE);
  fl_rectf(x, y, kBox, kBox);
  fl_color(FL_DARK3);
  fl_rect(x, y, kBox, kBox);
  fl_color(FL_FOREGROUND_COLOR);
  if (check == CheckState::checked) {
    fl_line_style(FL_SOLID | FL_CAP_ROUND | FL_JOIN_ROUND, 2);
    fl_line(x + 3, y + 6, x + 5, y + 9, x + 10, y + 3);
    fl_line_style(0);
  } else if (check == CheckState::partly) {
    fl_rectf(x + 3, y + 3, kBox - 6, kBox - 6);
  }
}

}  // namespace

ChoiceList::ChoiceList(int x, int y, int w, int h, FileChoicePresenter& presenter)
    : Fl_Group(x, y, w, h), presenter_(presenter) {
  box(FL_DOWN_BOX);
  color(FL_WHITE);
  selection_color(FL_SELECTION_COLOR);
  const int bar = Fl::scrollbar_size();
  const Fl_Boxtype frame = box();
  scrollbar_ = new Fl_Scrollbar(x + w - Fl::box_dx(frame) - bar, y + Fl::box_dy(frame), bar,
                                h - Fl::box_dh(frame));
  scrollbar_->type(FL_VERTICAL);
  scrollbar_->linesize(1);
  // The keyboard stays in the list when the bar is used.
  scrollbar_->visible_focus(0);
  scrollbar_->callback(
      [](Fl_Widget* bar_widget, void* list) {
        static_cast<ChoiceList*>(list)->scroll_to(static_cast<Fl_Scrollbar*>(bar_widget)->value());
      },
      this);
  end();
  update_scrollbar();
}

int ChoiceList::row_height() const {
  return kRowHeight;
}

int ChoiceList::page_rows() const {
  return std::max(1, (h() - Fl::box_dh(box())) / row_height());
}

ChoiceList::Columns ChoiceList::columns(std::size_t depth) const {
  const int left = x() + Fl::box_dx(box()) + kPad;
  const int size = scrollbar_->x() - kPad - layout::kChoiceSizeColumn;
  const int deepest = std::max(0, size - kLeastNameWidth - (kSign + kBox + 2 * kGap) - left);
  const int indent = static_cast<int>(
      std::min<std::size_t>(depth, static_cast<std::size_t>(deepest / layout::kChoiceIndent)) *
      layout::kChoiceIndent);
  Columns out;
  out.sign = left + indent;
  out.box = out.sign + kSign + 2;
  out.name = out.box + kBox + kGap;
  out.size = size;
  return out;
}

void ChoiceList::draw() {
  if ((damage() & ~FL_DAMAGE_CHILD) == 0) {
    update_child(*scrollbar_);
    return;
  }
  const Fl_Boxtype frame = box();
  draw_box(frame, color());
  const int left = x() + Fl::box_dx(frame), top = y() + Fl::box_dy(frame);
  const int bottom = y() + h() - Fl::box_dh(frame) + Fl::box_dy(frame);
  fl_push_clip(left, top, scrollbar_->x() - left, bottom - top);
  fl_font(kTextFont, kTextSize);
  const std::size_t count = presenter_.row_count();
  int row_top = top;
  for (std::size_t row = top_; row < count && row_top < bottom; ++row, row_top += row_height())
    draw_row(row, row_top);
  fl_pop_clip();
  draw_child(*scrollbar_);
}

void ChoiceList::draw_row(std::size_t index, int top) {
  const ChoiceRow row = presenter_.row(index);
  const int left = x() + Fl::box_dx(box());
  const int right = scrollbar_->x();
  Fl_Color ink = FL_FOREGROUND_COLOR;
  Fl_Color sign = FL_DARK3;
  if (index == current_) {
    // The current row in the selection colour while the list has the
    // keyboard, a pale shade of it otherwise.
    const bool focused = Fl::focus() == this;
    const Fl_Color background =
        focused ? selection_color() : fl_color_average(selection_color(), color(), 0.2f);
    fl_color(background);
    fl_rectf(left, top, right - left, row_height());
    if (focused) {
      ink = fl_contrast(ink, background);
      sign = ink;
    }
  }
  const Columns at = columns(row.depth);
  const int middle = top + row_height() / 2;
  if (row.folder) draw_sign(at.sign + kSign / 2, middle, row.open, sign);
  draw_check_box(at.box, middle - kBox / 2, row.check);

  fl_color(ink);
  const int baseline = top + (row_height() + fl_height()) / 2 - fl_descent();
  const std::string size = gbk_to_utf8(row.size);
  const int size_width = static_cast<int>(fl_width(size.c_str(), static_cast<int>(size.size())));
  fl_draw(size.c_str(), static_cast<int>(size.size()), right - kPad - size_width, baseline);
  const std::string name = fitted_text(gbk_to_utf8(row.name), at.size - kGap - at.name);
  fl_draw(name.c_str(), static_cast<int>(name.size()), at.name, baseline);
}

int ChoiceList::handle(int event) {
  switch (event) {
    case FL_PUSH:
      return handle_push();
    case FL_DRAG:
    case FL_RELEASE:
      return 1;
    case FL_FOCUS:
    case FL_UNFOCUS:
      redraw();
      return 1;
    case FL_KEYBOARD:
      return handle_key();
    case FL_MOUSEWHEEL:
      if (Fl::event_dy() == 0) return 0;
      scroll_to(static_cast<long>(top_) + static_cast<long>(kWheelRows) * Fl::event_dy());
      return 1;
    default:
      return Fl_Group::handle(event);
  }
}

int ChoiceList::handle_push() {
  take_focus();
  if (Fl::event_inside(scrollbar_)) return Fl_Group::handle(FL_PUSH);
  const int top = y() + Fl::box_dy(box());
  const int offset = Fl::event_y() - top;
  if (offset < 0) return 1;
  const std::size_t row = top_ + static_cast<std::size_t>(offset / row_height());
  if (row >= presenter_.row_count()) return 1;
  go_to(static_cast<long>(row));
  if (Fl::event_button() != FL_LEFT_MOUSE) return 1;
  const ChoiceRow shown = presenter_.row(row);
  const Columns at = columns(shown.depth);
  const int x_at = Fl::event_x();
  if (shown.folder && x_at >= at.sign - 3 && x_at < at.box - 1) {
    toggle_open(row);
  } else if (x_at >= at.box - 3 && x_at < at.box + kBox + 3) {
    presenter_.check_clicked(row);
  } else if (shown.folder && Fl::event_clicks() > 0) {
    toggle_open(row);
    // A third click starts the next pair rather than toggling again.
    Fl::event_clicks(0);
  }
  return 1;
}

int ChoiceList::handle_key() {
  if (Fl::event_state() & (FL_ALT | FL_META)) return 0;
  const long current = static_cast<long>(current_);
  const long page = std::max(1, page_rows() - 1);
  const std::size_t count = presenter_.row_count();
  switch (Fl::event_key()) {
    case FL_Up:
      go_to(current - 1);
      return 1;
    case FL_Down:
      go_to(current + 1);
      return 1;
    case FL_Page_Up:
      go_to(current - page);
      return 1;
    case FL_Page_Down:
      go_to(current + page);
      return 1;
    case FL_Home:
      go_to(0);
      return 1;
    case FL_End:
      go_to(static_cast<long>(count) - 1);
      return 1;
    default:
      break;
  }
  if (current_ >= count) return 0;
  switch (Fl::event_key()) {
    case FL_Enter:
    case FL_KP_Enter:
      // Only 确定 confirms: Enter opens or closes a folder, and checks or
      // unchecks a file.
      if (presenter_.row(current_).folder) {
        toggle_open(current_);
      } else {
        presenter_.check_clicked(current_);
      }
      return 1;
    case ' ':
      presenter_.check_clicked(current_);
      return 1;
    case FL_Right: {
      const ChoiceRow row = presenter_.row(current_);
      if (row.folder && !row.open) {
        presenter_.set_open(current_, true);
      } else if (row.folder && current_ + 1 < count &&
                 presenter_.row(current_ + 1).depth > row.depth) {
        // An open folder: on to what it holds.
        go_to(current + 1);
      }
      return 1;
    }
    case FL_Left: {
      const ChoiceRow row = presenter_.row(current_);
      if (row.folder && row.open) {
        presenter_.set_open(current_, false);
      } else {
        go_to(static_cast<long>(presenter_.parent_row(current_)));
      }
      return 1;
    }
    default:
      return 0;
  }
}

void ChoiceList::go_to(long row) {
  const std::size_t count = presenter_.row_count();
  if (count == 0) return;
  current_ = static_cast<std::size_t>(std::clamp(row, 0L, static_cast<long>(count) - 1));
  const std::size_t page = static_cast<std::size_t>(page_rows());
  if (current_ < top_) {
    scroll_to(static_cast<long>(current_));
  } else if (current_ >= top_ + page) {
    scroll_to(static_cast<long>(current_ - page + 1));
  }
  redraw();
}

void ChoiceList::toggle_open(std::size_t row) {
  // The row is the current one, so what opens or closes below it moves no
  // row the list keeps.
  current_ = row;
  presenter_.toggle_open(row);
}

void ChoiceList::scroll_to(long row) {
  const long count = static_cast<long>(presenter_.row_count());
  const long last_top = std::max(0L, count - page_rows());
  top_ = static_cast<std::size_t>(std::clamp(row, 0L, last_top));
  update_scrollbar();
  redraw();
}

void ChoiceList::update_scrollbar() {
  scrollbar_->value(static_cast<int>(top_), page_rows(), 0,
                    static_cast<int>(presenter_.row_count()));
}

void ChoiceList::resize(int x, int y, int w, int h) {
  // The group would move its scroll bar in proportion.
  Fl_Widget::resize(x, y, w, h);
  const Fl_Boxtype frame = box();
  const int bar = Fl::scrollbar_size();
  scrollbar_->resize(x + w - Fl::box_dx(frame) - bar, y + Fl::box_dy(frame), bar,
                     h - Fl::box_dh(frame));
  rows_changed();
}

void ChoiceList::rows_changed() {
  const std::size_t count = presenter_.row_count();
  if (current_ >= count) current_ = count == 0 ? 0 : count - 1;
  scroll_to(static_cast<long>(top_));
}

FileChoiceWindow::FileChoiceWindow(std::unique_ptr<ShareTree> tree,
                                   FileChoicePresenter::OnClosed on_closed)
    : Fl_Double_Window(kWindowLeft, kWindowTop, layout::kChoiceWidth - kFrameWidth,
                       layout::kChoiceHeight - kFrameHeight),
      presenter_(std::move(tree), *this, std::move(on_closed)) {
  copy_label(gbk_to_utf8(kChoiceTitle).c_str());
  // The list comes first: a window that gets the keyboard hands it to the
  // first control that takes it.
  const layout::Box list = layout::kChoiceList;
  列表框_文件 = new ChoiceList(list.x, list.y, list.w, list.h, presenter_);
  const layout::Box filter = layout::kFilterBox;
  编辑框_筛选 = new CueInput(filter.x, filter.y, filter.w, filter.h, kFilterCue);
  style_edit_box(*编辑框_筛选);
  // Enter applies the filter as 选中 does, and resolves nothing.
  编辑框_筛选->when(FL_WHEN_ENTER_KEY_ALWAYS);
  编辑框_筛选->callback(on_click<&FileChoicePresenter::check_matching_clicked>, &presenter_);
  按钮1 = make_button(layout::kCheckMatching, kCheckMatchingLabel,
                      on_click<&FileChoicePresenter::check_matching_clicked>, &presenter_);
  按钮2 = make_button(layout::kUncheckMatching, kUncheckMatchingLabel,
                      on_click<&FileChoicePresenter::uncheck_matching_clicked>, &presenter_);
  const layout::Box summary = layout::kChoiceSummary;
  标签_统计 = new Fl_Box(summary.x, summary.y, summary.w, summary.h);
  标签_统计->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  set_summary(presenter_.summary());
  按钮3 = make_button(layout::kChoiceOk, kChoiceOkLabel, on_click<&FileChoicePresenter::ok_clicked>,
                      &presenter_);
  end();
  size_range(w(), h());
  callback(hide_on_close_box);
}

// The list takes the room; the summary and 确定 keep their distance from the
// bottom, 确定 also from the right edge.
void FileChoiceWindow::resize(int x, int y, int w, int h) {
  Fl_Double_Window::resize(x, y, w, h);
  const layout::ChoiceBoxes boxes = layout::choice_boxes(
      w - (layout::kChoiceWidth - kFrameWidth), h - (layout::kChoiceHeight - kFrameHeight));
  place(*列表框_文件, boxes.list);
  place(*标签_统计, boxes.summary);
  place(*按钮3, boxes.ok);
  redraw();
}

void FileChoiceWindow::hide() {
  Fl_Double_Window::hide();
  if (closed_) return;
  closed_ = true;
  presenter_.closed();
  Fl::delete_widget(this);
}

std::string FileChoiceWindow::filter_text() const {
  return utf8_to_gbk(编辑框_筛选->value());
}

void FileChoiceWindow::rows_changed() {
  列表框_文件->rows_changed();
}

void FileChoiceWindow::set_summary(const std::string& text) {
  标签_统计->copy_label(gbk_to_utf8(text).c_str());
}

void FileChoiceWindow::show_message(const std::string& text, const std::string& caption) {
  sharelink::show_message(text, caption);
}

void open_file_choice_window(std::unique_ptr<ShareTree> tree,
                             FileChoicePresenter::OnClosed on_closed) {
  auto* window = new FileChoiceWindow(std::move(tree), std::move(on_closed));
  window->set_non_modal();
  window->show();
  window->list().take_focus();
}

}  // namespace sharelink
