#include "app/fltk/main_window.h"

#include <vector>

#include <FL/Fl.H>

#include "app/app_texts.h"
#include "app/desktop/layout.h"
#include "app/fltk/file_choice_window.h"
#include "app/fltk/prompt_windows.h"
#include "app/fltk/widgets.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

template <void (MainPresenter::*handler)()>
void on_click(Fl_Widget*, void* presenter) {
  (static_cast<MainPresenter*>(presenter)->*handler)();
}

Fl_Button* make_button(const layout::Box& box, const char* caption, Fl_Callback* handler,
                       void* presenter) {
  auto* button = new Fl_Button(box.x, box.y, box.w, box.h);
  button->copy_label(caption);
  button->callback(handler, presenter);
  return button;
}

}  // namespace

MainWindow::MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
                       std::FILE* log_mirror)
    : Fl_Double_Window(50, 50, layout::kMainWidth - kFrameWidth,
                       layout::kMainHeight - kFrameHeight),
      state_(state),
      presenter_(state, jobs, bridge, log, *this, log_mirror),
      log_text_(std::make_unique<Fl_Text_Buffer>()) {
  copy_label(gbk_to_utf8(kMainCaption).c_str());
  const layout::Box url = layout::kUrlBox;
  编辑框_URL = new Fl_Input(url.x, url.y, url.w, url.h);
  编辑框_URL->value(gbk_to_utf8(kUrlPlaceholder).c_str());
  style_edit_box(*编辑框_URL);
  按钮1 = make_button(layout::kParseButton, u8"解析", on_click<&MainPresenter::parse_clicked>,
                      &presenter_);
  按钮2 = make_button(layout::kClearButton, u8"清空", on_click<&MainPresenter::clear_clicked>,
                      &presenter_);
  按钮3 = make_button(layout::kCopyButton, u8"复制", on_click<&MainPresenter::copy_clicked>,
                      &presenter_);
  const layout::Box log_box = layout::kLogBox;
  编辑框_日志 = new Fl_Text_Editor(log_box.x, log_box.y, log_box.w, log_box.h);
  编辑框_日志->buffer(log_text_.get());
  编辑框_日志->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
  编辑框_日志->textsize(13);
  编辑框_日志->textcolor(FL_BLACK);
  style_edit_box(*编辑框_日志);
  const layout::Box choose = layout::kChooseFirstBox;
  选择框_先选择文件 = new Fl_Check_Button(choose.x, choose.y, choose.w, choose.h);
  选择框_先选择文件->copy_label(gbk_to_utf8(kChooseFirstLabel).c_str());
  end();
  callback(
      [](Fl_Widget*, void* presenter) {
        // Escape closes a toolkit window by default; this window closes only
        // by its close box.
        if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
        static_cast<MainPresenter*>(presenter)->close_clicked();
      },
      &presenter_);
}

MainWindow::~MainWindow() {
  Fl::remove_timeout(on_timer, this);
  // The log box detaches from its buffer when it is deleted: delete it first.
  clear();
}

std::string MainWindow::url_text() const {
  return utf8_to_gbk(编辑框_URL->value());
}

void MainWindow::set_input_enabled(bool enabled) {
  if (enabled) {
    编辑框_URL->activate();
  } else {
    编辑框_URL->deactivate();
  }
  按钮1->copy_label(enabled ? u8"解析" : u8"停止");
}

void MainWindow::set_caption(const std::string& caption) {
  copy_label(gbk_to_utf8(caption).c_str());
}

void MainWindow::append_log(const std::string& text) {
  // The box shows lines ended by LF alone; a CR would be drawn as a glyph.
  const std::string shown = replace_all(gbk_to_utf8(text), "\r", "");
  log_text_->append(shown.c_str());
  编辑框_日志->insert_position(log_text_->length());
  编辑框_日志->show_insert_position();
}

void MainWindow::clear_log() {
  log_text_->text("");
}

bool MainWindow::schedule(std::chrono::milliseconds delay) {
  Fl::add_timeout(std::chrono::duration<double>(delay).count(), on_timer, this);
  return true;
}

void MainWindow::on_timer(void* window) {
  static_cast<MainWindow*>(window)->presenter_.timer_fired();
}

void MainWindow::put_on_clipboard(const std::string& text) {
  const std::string utf8 = gbk_to_utf8(text);
  Fl::copy(utf8.data(), static_cast<int>(utf8.size()), 1);
}

void MainWindow::show_message(const std::string& text, const std::string& caption) {
  sharelink::show_message(text, caption);
}

void MainWindow::open_extraction_code_prompt(std::function<void()> on_closed) {
  open_extraction_code_window(state_, std::move(on_closed));
}

void MainWindow::open_captcha_prompt(std::function<void()> on_closed) {
  open_captcha_window(state_, std::move(on_closed));
}

bool MainWindow::choose_first() const {
  return 选择框_先选择文件->value() != 0;
}

void MainWindow::open_file_choice(std::unique_ptr<ShareTree> tree,
                                  FileChoicePresenter::OnClosed on_closed) {
  open_file_choice_window(std::move(tree), std::move(on_closed));
}

// The prompts and the choice of files are windows of their own: hiding them
// tells their presenters they have closed.
void MainWindow::close_all() {
  while (Fl_Window* window = Fl::first_window())
    window->hide();
}

void MainWindow::close_prompts() {
  // Hiding one takes it out of the list being walked.
  std::vector<Fl_Window*> prompts;
  for (Fl_Window* window = Fl::first_window(); window; window = Fl::next_window(window)) {
    if (dynamic_cast<PromptWindow*>(window) || dynamic_cast<FileChoiceWindow*>(window))
      prompts.push_back(window);
  }
  for (Fl_Window* window : prompts)
    window->hide();
}

}  // namespace sharelink
