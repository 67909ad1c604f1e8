#include "app/fltk/download_window.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <utility>

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include "app/app_texts.h"
#include "app/desktop/layout.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

constexpr int kPad = 4;
constexpr int kLeastPathWidth = 120;
const Fl_Color kBarColour = fl_rgb_color(86, 156, 214);

enum Column { kPath, kSize, kProgress, kSpeed, kState, kColumns };

}  // namespace

DownloadTable::DownloadTable(int x, int y, int w, int h, RowSource rows)
    : Fl_Table(x, y, w, h), rows_(std::move(rows)) {
  box(FL_DOWN_BOX);
  color(FL_WHITE);
  col_header(1);
  col_header_height(layout::kDownloadRowHeight + 2);
  row_header(0);
  cols(kColumns);
  vscrollbar->linesize(kWheelRows * layout::kDownloadRowHeight);
  end();
  fit_columns();
}

void DownloadTable::set_row_count(std::size_t count) {
  // New rows take the height of the last one; without one, the toolkit's 25
  // pixels.
  if (rows() == 0 && count > 0) {
    rows(1);
    row_height(0, layout::kDownloadRowHeight);
  }
  rows(static_cast<int>(std::min<std::size_t>(count, INT_MAX)));
  refresh();
}

void DownloadTable::refresh() {
  cached_.forget();
  redraw();
}

void DownloadTable::resize(int x, int y, int w, int h) {
  Fl_Table::resize(x, y, w, h);
  fit_columns();
}

void DownloadTable::fit_columns() {
  const int fixed = layout::kDownloadSizeColumn + layout::kDownloadProgressColumn +
                    layout::kDownloadSpeedColumn + layout::kDownloadStateColumn;
  const int inner = w() - Fl::box_dw(box()) - Fl::scrollbar_size();
  col_width(kPath, std::max(kLeastPathWidth, inner - fixed));
  col_width(kSize, layout::kDownloadSizeColumn);
  col_width(kProgress, layout::kDownloadProgressColumn);
  col_width(kSpeed, layout::kDownloadSpeedColumn);
  col_width(kState, layout::kDownloadStateColumn);
}

const DownloadRow& DownloadTable::row_at(int row) {
  return cached_.get(static_cast<std::size_t>(row), rows_);
}

void DownloadTable::draw_cell(TableContext context, int row, int column, int x, int y, int w,
                              int h) {
  if (context == CONTEXT_STARTPAGE) {
    fl_font(kTextFont, kTextSize);
    return;
  }
  if (context == CONTEXT_COL_HEADER) {
    fl_push_clip(x, y, w, h);
    fl_draw_box(FL_THIN_UP_BOX, x, y, w, h, FL_BACKGROUND_COLOR);
    fl_color(FL_FOREGROUND_COLOR);
    fl_draw(gbk_to_utf8(kDownloadColumnTitles[column]).c_str(), x + kPad, y, w - 2 * kPad, h,
            FL_ALIGN_LEFT, nullptr, 0);
    fl_pop_clip();
    return;
  }
  if (context != CONTEXT_CELL) return;
  const DownloadRow& shown = row_at(row);
  fl_push_clip(x, y, w, h);
  fl_color(FL_WHITE);
  fl_rectf(x, y, w, h);
  fl_font(kTextFont, kTextSize);
  fl_color(FL_FOREGROUND_COLOR);
  const int room = w - 2 * kPad;
  switch (column) {
    case kPath:
      fl_draw(fitted_text(gbk_to_utf8(shown.path), room).c_str(), x + kPad, y, room, h,
              FL_ALIGN_LEFT, nullptr, 0);
      break;
    case kSize:
      fl_draw(gbk_to_utf8(shown.size).c_str(), x + kPad, y, room, h, FL_ALIGN_RIGHT, nullptr, 0);
      break;
    case kProgress:
      draw_progress(shown, x, y, w, h);
      break;
    case kSpeed:
      fl_draw(gbk_to_utf8(shown.speed).c_str(), x + kPad, y, room, h, FL_ALIGN_RIGHT, nullptr, 0);
      break;
    default:
      if (shown.failed) fl_color(FL_RED);
      fl_draw(fitted_text(gbk_to_utf8(shown.state), room).c_str(), x + kPad, y, room, h,
              FL_ALIGN_LEFT, nullptr, 0);
      break;
  }
  fl_pop_clip();
}

void DownloadTable::draw_progress(const DownloadRow& row, int x, int y, int w, int h) {
  const int bar_x = x + kPad, bar_y = y + 3, bar_w = w - 2 * kPad, bar_h = h - 6;
  const double fraction = std::clamp(row.fraction, 0.0, 1.0);
  fl_color(row.failed ? fl_color_average(FL_RED, FL_WHITE, 0.4f) : kBarColour);
  fl_rectf(bar_x, bar_y, static_cast<int>(bar_w * fraction + 0.5), bar_h);
  fl_color(FL_DARK3);
  fl_rect(bar_x, bar_y, bar_w, bar_h);
  fl_color(FL_FOREGROUND_COLOR);
  fl_draw(gbk_to_utf8(row.progress).c_str(), bar_x, bar_y, bar_w, bar_h, FL_ALIGN_CENTER, nullptr,
          0);
}

DownloadWindow::DownloadWindow(DownloadPresenter& presenter,
                               std::function<void(Fl_Window*)> on_closed)
    : Fl_Double_Window(kWindowLeft, kWindowTop, layout::kDownloadWidth - kFrameWidth,
                       layout::kDownloadHeight - kFrameHeight),
      presenter_(presenter),
      on_closed_(std::move(on_closed)) {
  copy_label(gbk_to_utf8(kDownloadTitle).c_str());
  const layout::Box list = layout::kDownloadList;
  列表_文件 = new DownloadTable(list.x, list.y, list.w, list.h,
                                [this](std::size_t row) { return presenter_.row(row); });
  const layout::Box total = layout::kDownloadTotal;
  标签_合计 = new TextLine(total.x, total.y, total.w, total.h);
  按钮_开始 = make_button(layout::kDownloadStart, kStartLabel,
                          on_click<&DownloadPresenter::start_clicked>, &presenter_);
  按钮_停止 = make_button(layout::kDownloadStop, kStopLabel,
                          on_click<&DownloadPresenter::stop_clicked>, &presenter_);
  按钮_继续 = make_button(layout::kDownloadResume, kResumeLabel,
                          on_click<&DownloadPresenter::resume_clicked>, &presenter_);
  按钮_打开文件夹 = make_button(layout::kDownloadOpenFolder, kOpenFolderLabel,
                                on_click<&DownloadPresenter::open_folder_clicked>, &presenter_);
  end();
  size_range(w(), h());
  // It closes as the presenter decides.
  callback(on_close_box<&DownloadPresenter::close_requested>, &presenter_);
}

DownloadWindow::~DownloadWindow() {
  Fl::remove_timeout(on_timer, this);
}

void DownloadWindow::resize(int x, int y, int w, int h) {
  Fl_Double_Window::resize(x, y, w, h);
  place_controls();
}

// The toolkit's proportional resizing would stretch the buttons: the list
// takes the room, the rest keeps its distance from the bottom, 打开文件夹 also
// from the right edge.
void DownloadWindow::place_controls() {
  const layout::DownloadBoxes boxes = layout::download_boxes(
      w() - (layout::kDownloadWidth - kFrameWidth), h() - (layout::kDownloadHeight - kFrameHeight));
  place(*列表_文件, boxes.list);
  place(*标签_合计, boxes.total);
  place(*按钮_开始, boxes.start);
  place(*按钮_停止, boxes.stop);
  place(*按钮_继续, boxes.resume);
  place(*按钮_打开文件夹, boxes.open_folder);
  redraw();
}

void DownloadWindow::set_row_count(std::size_t rows) {
  列表_文件->set_row_count(rows);
}

void DownloadWindow::refresh_rows() {
  列表_文件->refresh();
}

void DownloadWindow::set_total(const std::string& text, bool warn) {
  标签_合计->set_text(text, warn ? FL_RED : FL_FOREGROUND_COLOR);
}

void DownloadWindow::set_buttons(bool start, bool stop, bool resume) {
  enable(*按钮_开始, start);
  enable(*按钮_停止, stop);
  enable(*按钮_继续, resume);
}

bool DownloadWindow::schedule(std::chrono::milliseconds delay) {
  Fl::add_timeout(std::chrono::duration<double>(delay).count(), on_timer, this);
  return true;
}

void DownloadWindow::on_timer(void* window) {
  static_cast<DownloadWindow*>(window)->presenter_.timer_fired();
}

void DownloadWindow::show_message(const std::string& text, const std::string& caption) {
  sharelink::show_message(text, caption);
}

bool DownloadWindow::ask(const std::string& question, const std::string& caption) {
  return ask_question(question, caption);
}

void DownloadWindow::open_folder(const std::string& folder) {
  open_in_file_manager(folder);
}

// Called from the presenter, often inside this window's own callback: the
// toolkit deletes the window once that has returned.
void DownloadWindow::close() {
  if (closed_) return;
  closed_ = true;
  Fl::remove_timeout(on_timer, this);
  hide();
  if (on_closed_) std::exchange(on_closed_, nullptr)(this);
  Fl::delete_widget(this);
}

void open_in_file_manager(const std::string& folder) {
  // Everything the children use is made before fork: after it, a child of a
  // threaded program may only make async-signal-safe calls.
  char program[] = "xdg-open";
  // A name that starts with "-" would read as an option.
  std::string argument = folder.rfind('-', 0) == 0 ? "./" + folder : folder;
  char* argv[] = {program, argument.data(), nullptr};
  const pid_t child = fork();
  if (child == 0) {
    // The grandchild is adopted by init, which reaps it: the program never
    // waits on a file manager, and leaves no zombie.
    if (fork() == 0) {
      const int none = open("/dev/null", O_RDWR);
      if (none >= 0) {
        dup2(none, 0);
        dup2(none, 1);
        dup2(none, 2);
      }
      execvp(program, argv);
    }
    _exit(0);
  }
  if (child > 0) waitpid(child, nullptr, 0);
}

}  // namespace sharelink
