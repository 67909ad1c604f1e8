#include "app/fltk/log_box.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/fl_utf8.h>

namespace sharelink {

LogBox::~LogBox() {
  Fl::remove_timeout(on_drag_timer, this);
}

LogBox::LogBox(int x, int y, int w, int h) : Fl_Group(x, y, w, h) {
  box(FL_DOWN_BOX);
  color(FL_BACKGROUND2_COLOR);
  scrollbar_ = new Fl_Scrollbar(x, y, 1, 1);
  scrollbar_->type(FL_VERTICAL);
  scrollbar_->linesize(1);
  scrollbar_->clear_visible_focus();
  scrollbar_->callback(on_scroll, this);
  end();
  resize(x, y, w, h);
}

void LogBox::append(std::string_view text) {
  store_.append(text);
  cursor_ = store_.end();
  // The view follows at the next drawing: many appends between two drawings
  // cost one scroll.
  follow_end_ = true;
  redraw();
}

void LogBox::clear() {
  store_.clear();
  top_ = {};
  cursor_ = sel_a_ = sel_b_ = {};
  last_edit_ = {};
  follow_end_ = false;
  redraw();
}

void LogBox::textfont(Fl_Font font) {
  textfont_ = font;
  widths_ready_ = false;
  redraw();
}

void LogBox::textsize(Fl_Fontsize size) {
  textsize_ = size;
  widths_ready_ = false;
  redraw();
}

void LogBox::resize(int x, int y, int w, int h) {
  // Not the group's resize, which would scale the scroll bar with the box.
  Fl_Widget::resize(x, y, w, h);
  const int bar = Fl::scrollbar_size();
  scrollbar_->resize(x + w - Fl::box_dx(box()) - bar, y + Fl::box_dy(box()), bar,
                     h - Fl::box_dh(box()));
  redraw();
}

int LogBox::text_x() const {
  return x() + Fl::box_dx(box());
}
int LogBox::text_y() const {
  return y() + Fl::box_dy(box());
}
int LogBox::text_w() const {
  return std::max(0, w() - Fl::box_dw(box()) - Fl::scrollbar_size());
}
int LogBox::text_h() const {
  return std::max(0, h() - Fl::box_dh(box()));
}
int LogBox::row_height() const {
  fl_font(textfont_, textsize_);
  return std::max(1, fl_height());
}
int LogBox::visible_rows() const {
  return std::max(1, text_h() / row_height());
}

// --- measuring and wrapping --------------------------------------------------

double LogBox::char_width(std::string_view line, std::size_t at, std::size_t* next) {
  fl_font(textfont_, textsize_);
  if (!widths_ready_) {
    for (int c = 0; c < 128; ++c) {
      const char one = static_cast<char>(c);
      ascii_width_[c] = fl_width(&one, 1);
    }
    other_width_.clear();
    widths_ready_ = true;
  }
  const auto byte = static_cast<unsigned char>(line[at]);
  if (byte < 0x80) {
    *next = at + 1;
    return ascii_width_[byte];
  }
  int length = 1;
  const unsigned code = fl_utf8decode(line.data() + at, line.data() + line.size(), &length);
  *next = at + static_cast<std::size_t>(std::max(1, length));
  const auto found = other_width_.find(code);
  if (found != other_width_.end()) return found->second;
  const double width = fl_width(line.data() + at, static_cast<int>(*next - at));
  // Bounded: a log cannot make the cache grow beyond the characters there are.
  if (other_width_.size() < 65536) other_width_.emplace(code, width);
  return width;
}

std::vector<LogBox::Row> LogBox::wrap(std::string_view line) {
  const double room = std::max(1, text_w() - 2 * kMargin);
  std::vector<Row> rows;
  std::size_t start = 0, after_space = 0;
  double x = 0, x_at_space = 0;
  for (std::size_t at = 0, next = 0; at < line.size(); at = next) {
    const double width = char_width(line, at, &next);
    if (x + width > room && at > start) {
      // Break after the row's last space, or inside a word too long for a row.
      const bool at_space = after_space > start;
      const std::size_t end = at_space ? after_space : at;
      rows.push_back({start, end});
      x = at_space ? x - x_at_space : 0;
      start = end;
    }
    x += width;
    if (is_space(line[at])) {
      after_space = next;
      x_at_space = x;
    }
  }
  rows.push_back({start, line.size()});
  return rows;
}

std::size_t LogBox::row_of(const std::vector<Row>& rows, std::size_t col) const {
  std::size_t row = 0;
  while (row + 1 < rows.size() && rows[row + 1].start <= col)
    ++row;
  return row;
}

// --- scrolling ---------------------------------------------------------------

long LogBox::move(Top& top, long rows) {
  // A top kept from before an edit or a width change may name a row or a
  // line no longer there.
  top.line = std::min(top.line, store_.lines() - 1);
  top.row = std::min(top.row, wrap(store_.line(top.line)).size() - 1);
  long moved = 0;
  for (; rows > 0; --rows, ++moved) {
    if (top.row + 1 < wrap(store_.line(top.line)).size()) {
      ++top.row;
    } else if (top.line + 1 < store_.lines()) {
      top = {top.line + 1, 0};
    } else {
      break;
    }
  }
  for (; rows < 0; ++rows, --moved) {
    if (top.row > 0) {
      --top.row;
    } else if (top.line > 0) {
      --top.line;
      top.row = wrap(store_.line(top.line)).size() - 1;
    } else {
      break;
    }
  }
  return moved;
}

LogBox::Top LogBox::bottom_top() {
  Top top{store_.lines() - 1, SIZE_MAX};
  move(top, 1 - visible_rows());
  return top;
}

void LogBox::clamp_top() {
  move(top_, 0);
  const Top lowest = bottom_top();
  if (top_after(top_, lowest)) top_ = lowest;
}

void LogBox::scroll(long rows) {
  follow_end_ = false;
  move(top_, rows);
  clamp_top();
  redraw();
}

void LogBox::show_cursor() {
  Top at{cursor_.line, row_of(wrap(store_.line(cursor_.line)), cursor_.col)};
  if (top_after(top_, at)) {
    top_ = at;
  } else {
    move(at, 1 - visible_rows());
    if (top_after(at, top_)) top_ = at;
  }
}

void LogBox::sync_scrollbar() {
  const int lines = static_cast<int>(std::min<std::size_t>(store_.lines(), INT_MAX));
  scrollbar_->value(static_cast<int>(std::min<std::size_t>(top_.line, INT_MAX)), visible_rows(), 0,
                    lines);
}

void LogBox::on_scroll(Fl_Widget*, void* data) {
  auto* box = static_cast<LogBox*>(data);
  const int value = box->scrollbar_->value();
  box->follow_end_ = false;
  // The bar counts lines, the view rows: at the bar's end the last rows show.
  box->top_ = value >= box->scrollbar_->maximum() ? box->bottom_top()
                                                  : Top{static_cast<std::size_t>(value), 0};
  box->redraw();
}

// --- drawing -----------------------------------------------------------------

void LogBox::draw() {
  if (follow_end_) {
    show_cursor();
    follow_end_ = false;
  }
  clamp_top();
  sync_scrollbar();
  draw_box();
  const int left = text_x(), top = text_y(), width = text_w(), height = text_h();
  fl_push_clip(left, top, width, height);
  fl_color(color());
  fl_rectf(left, top, width, height);
  const int row_h = row_height();
  Top at = top_;
  for (int y = top; y < top + height;) {
    const std::string_view line = store_.line(at.line);
    const std::vector<Row> rows = wrap(line);
    for (std::size_t row = at.row; row < rows.size() && y < top + height; ++row, y += row_h)
      draw_row(line, at.line, rows[row], y);
    if (at.line + 1 >= store_.lines()) break;
    at = {at.line + 1, 0};
  }
  fl_pop_clip();
  draw_child(*scrollbar_);
}

void LogBox::draw_row(std::string_view line, std::size_t index, const Row& row, int y) {
  const int left = text_x() + kMargin;
  const int base = y + row_height() - fl_descent();
  const char* text = line.data() + row.start;
  const Fl_Color ink = active_r() ? textcolor_ : fl_inactive(textcolor_);
  fl_font(textfont_, textsize_);
  fl_color(ink);
  fl_draw(text, static_cast<int>(row.end - row.start), left, base);

  if (has_selection()) {
    const TextPos from = selection_start(), to = selection_end();
    if (index >= from.line && index <= to.line) {
      // Past the line's end: its LF is selected too.
      const std::size_t sel_from = std::max(row.start, index == from.line ? from.col : 0);
      const std::size_t sel_to = std::min(row.end, index == to.line ? to.col : line.size() + 1);
      const bool newline = index < to.line && row.end == line.size();
      if (sel_from < sel_to || (newline && sel_from <= row.end)) {
        const int x1 =
            left + static_cast<int>(fl_width(text, static_cast<int>(sel_from - row.start)));
        const int x2 =
            left + static_cast<int>(fl_width(text, static_cast<int>(sel_to - row.start)));
        const int extra = newline ? static_cast<int>(ascii_width_[' ']) : 0;
        fl_color(selection_color());
        fl_rectf(x1, y, x2 - x1 + extra, row_height());
        fl_color(fl_contrast(ink, selection_color()));
        fl_draw(line.data() + sel_from, static_cast<int>(sel_to - sel_from), x1, base);
      }
    }
  }
  const bool cursor_here = index == cursor_.line && cursor_.col >= row.start &&
                           (cursor_.col < row.end || row.end == line.size());
  if (cursor_here && Fl::focus() == this) {
    const int x =
        left + static_cast<int>(fl_width(text, static_cast<int>(cursor_.col - row.start)));
    fl_color(ink);
    fl_line(x, y + 1, x, y + row_height() - 2);
  }
}

}  // namespace sharelink
