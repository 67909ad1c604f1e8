#include "app/gui/main_window.h"

#include <unistd.h>

#include <FL/Fl.H>

#include "app/app_texts.h"
#include "app/gui/prompt_windows.h"
#include "app/gui/widgets.h"
#include "http/local_text.h"
#include "http/text_encoding.h"

namespace sharelink {

namespace {

template <void (MainWindow::*handler)()>
void on_click(Fl_Widget*, void* window) {
  (static_cast<MainWindow*>(window)->*handler)();
}

Fl_Button* make_button(int x, int y, const char* caption, Fl_Callback* handler, void* window) {
  auto* button = new Fl_Button(x, y, 56, 32);
  button->copy_label(caption);
  button->callback(handler, window);
  return button;
}

}  // namespace

MainWindow::MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
                       std::FILE* log_mirror)
    : Fl_Double_Window(50, 50, 606 - kFrameWidth, 425 - kFrameHeight),
      state_(state),
      jobs_(jobs),
      bridge_(bridge),
      log_mirror_(log_mirror),
      pump_(log, {[this](const std::string& text) { append_log(text); },
                  [this](const ResolveProgress& progress) { show_progress(progress); },
                  [this] { return !编辑框_URL->active(); },
                  [this](std::chrono::milliseconds delay) {
                    Fl::add_timeout(std::chrono::duration<double>(delay).count(), on_pump_timer,
                                    this);
                    return true;
                  }}),
      log_text_(std::make_unique<Fl_Text_Buffer>()) {
  copy_label(gbk_to_utf8(kMainCaption).c_str());
  编辑框_URL = new Fl_Input(10, 9, 390, 32);
  编辑框_URL->value(gbk_to_utf8(kUrlPlaceholder).c_str());
  style_edit_box(*编辑框_URL);
  按钮1 = make_button(407, 9, u8"解析", on_click<&MainWindow::on_parse_clicked>, this);
  按钮2 = make_button(470, 9, u8"清空", on_click<&MainWindow::on_clear_clicked>, this);
  按钮3 = make_button(532, 9, u8"复制", on_click<&MainWindow::on_copy_clicked>, this);
  编辑框_日志 = new Fl_Text_Editor(10, 50, 579, 337);
  编辑框_日志->buffer(log_text_.get());
  编辑框_日志->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
  编辑框_日志->textsize(13);
  编辑框_日志->textcolor(FL_BLACK);
  style_edit_box(*编辑框_日志);
  end();
  callback(on_click<&MainWindow::on_close>, this);
}

MainWindow::~MainWindow() {
  Fl::remove_timeout(on_pump_timer, this);
  // The log box detaches from its buffer when it is deleted: delete it first.
  clear();
}

std::string MainWindow::url_text() const {
  return utf8_to_gbk(编辑框_URL->value());
}

void MainWindow::set_input_enabled(bool enabled) {
  if (enabled && job_caption_) {
    job_caption_ = false;
    copy_label(gbk_to_utf8(kMainCaption).c_str());
  }
  for (Fl_Widget* control : {static_cast<Fl_Widget*>(编辑框_URL), static_cast<Fl_Widget*>(按钮1)}) {
    if (enabled) {
      control->activate();
    } else {
      control->deactivate();
    }
  }
}

void MainWindow::log_arrived() {
  pump_.arrived();
}

void MainWindow::after_log_shown(std::function<void()> then) {
  pump_.after_shown(std::move(then));
}

void MainWindow::on_pump_timer(void* window) {
  static_cast<MainWindow*>(window)->pump_.fired();
}

void MainWindow::show_progress(const ResolveProgress& progress) {
  job_caption_ = true;
  const std::string caption = kProgressCaption + std::to_string(progress.links_obtained) + "/" +
                              std::to_string(progress.files_found);
  copy_label(gbk_to_utf8(caption).c_str());
}

void MainWindow::append_log(const std::string& text) {
  if (log_mirror_) {
    std::fwrite(text.data(), 1, text.size(), log_mirror_);
    std::fflush(log_mirror_);
  }
  // The box shows lines ended by LF alone; a CR would be drawn as a glyph.
  const std::string shown = replace_all(gbk_to_utf8(text), "\r", "");
  log_text_->append(shown.c_str());
  编辑框_日志->insert_position(log_text_->length());
  编辑框_日志->show_insert_position();
}

void MainWindow::open_extraction_code_prompt(std::function<void()> on_closed) {
  open_extraction_code_window(state_, std::move(on_closed));
}

void MainWindow::open_captcha_prompt(std::function<void()> on_closed) {
  open_captcha_window(state_, std::move(on_closed));
}

void MainWindow::on_parse_clicked() {
  jobs_.start();
}

void MainWindow::on_clear_clicked() {
  pump_.drop();
  log_text_->text("");
  if (log_mirror_) {
    std::fflush(log_mirror_);
    if (ftruncate(fileno(log_mirror_), 0) == 0) std::rewind(log_mirror_);
  }
}

void MainWindow::on_copy_clicked() {
  after_log_shown([this] { copy_links(); });
}

void MainWindow::copy_links() {
  // Under the lock the job publishes the list with: a running job may be
  // replacing it right now.
  const std::string links = gbk_to_utf8(state_.links_text());
  Fl::copy(links.data(), static_cast<int>(links.size()), 1);
  show_message(kCopiedMessage, kMessageCaption);
}

void MainWindow::on_close() {
  // Escape closes a toolkit window by default; this window closes only by its
  // close box.
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  bridge_.close();
  // Prompt windows report their closing to a bridge that no longer listens.
  while (Fl_Window* window = Fl::first_window())
    window->hide();
}

}  // namespace sharelink
