#include "app/fltk/main_window.h"

#include <algorithm>
#include <vector>

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>

#include "app/app_texts.h"
#include "app/desktop/layout.h"
#include "app/fltk/download_window.h"
#include "app/fltk/file_choice_window.h"
#include "app/fltk/prompt_windows.h"
#include "app/fltk/widgets.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

// Whether some screen shows the top-left part of a window placed there: its
// caption, where the user takes hold of it.
bool on_a_screen(const WindowPlace& place) {
  constexpr int kVisibleWidth = 100, kVisibleHeight = 30;
  for (int screen = 0; screen < Fl::screen_count(); ++screen) {
    int x = 0, y = 0, w = 0, h = 0;
    Fl::screen_xywh(x, y, w, h, screen);
    if (place.x >= x && place.y >= y && place.x + kVisibleWidth <= x + w &&
        place.y + kVisibleHeight <= y + h) {
      return true;
    }
  }
  return false;
}

}  // namespace

MainWindow::MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
                       std::FILE* log_mirror, std::string settings_file)
    : Fl_Double_Window(kWindowLeft, kWindowTop, layout::kMainWidth - kFrameWidth,
                       layout::kMainOpenHeight - kFrameHeight),
      state_(state),
      presenter_(state, jobs, bridge, log, *this, log_mirror, std::move(settings_file)) {
  copy_label(gbk_to_utf8(kMainCaption).c_str());
  const layout::Box url = layout::kUrlBox;
  编辑框_URL = new Fl_Input(url.x, url.y, url.w, url.h);
  编辑框_URL->value(gbk_to_utf8(kUrlPlaceholder).c_str());
  style_edit_box(*编辑框_URL);
  编辑框_URL->when(FL_WHEN_ENTER_KEY_ALWAYS);
  编辑框_URL->callback(on_click<&MainPresenter::url_entered>, &presenter_);
  按钮1 = make_button(layout::kParseButton, "解析", on_click<&MainPresenter::parse_clicked>,
                      &presenter_);
  按钮2 = make_button(layout::kClearButton, "清空", on_click<&MainPresenter::clear_clicked>,
                      &presenter_);
  按钮3 =
      make_button(layout::kCopyButton, "复制", on_click<&MainPresenter::copy_clicked>, &presenter_);
  const layout::Box log_box = layout::kLogBox;
  编辑框_日志 = new LogBox(log_box.x, log_box.y, log_box.w, log_box.h);
  编辑框_日志->textsize(kTextSize);
  编辑框_日志->textcolor(FL_BLACK);
  style_edit_box(*编辑框_日志);
  const layout::Box choose = layout::kChooseFirstBox;
  选择框_先选择文件 = new Fl_Check_Button(choose.x, choose.y, choose.w, choose.h);
  选择框_先选择文件->copy_label(gbk_to_utf8(kChooseFirstLabel).c_str());
  按钮_下载 = make_button(layout::kDownloadButton, kDownloadLabel,
                          on_click<&MainPresenter::download_clicked>, &presenter_);
  按钮_下载->deactivate();
  const layout::Box status = layout::kStatusBar;
  状态栏 = new TextLine(status.x, status.y, status.w, status.h);
  end();
  // The smallest size is the layout's; the window opens taller by the status
  // bar.
  size_range(layout::kMainWidth - kFrameWidth, layout::kMainHeight - kFrameHeight);
  callback(on_close_box<&MainPresenter::close_clicked>, &presenter_);
}

MainWindow::~MainWindow() {
  Fl::remove_timeout(on_timer, this);
}

void MainWindow::apply_settings() {
  const Settings& settings = presenter_.settings();
  set_choose_first(settings.choose_first);
  if (!settings.main_window || !on_a_screen(*settings.main_window)) return;
  // FLTK's pixels are taken as 96-DPI pixels; the frame is the layout's.
  const WindowPlace& place = *settings.main_window;
  resize(place.x, place.y, std::max(place.w, layout::kMainWidth) - kFrameWidth,
         std::max(place.h, layout::kMainHeight) - kFrameHeight);
}

void MainWindow::resize(int x, int y, int w, int h) {
  Fl_Double_Window::resize(x, y, w, h);
  place_controls();
}

// The toolkit's proportional resizing would stretch every control: the log
// box takes the room, the buttons keep their distance from the right edge.
void MainWindow::place_controls() {
  const layout::MainBoxes boxes = layout::main_boxes(
      w() - (layout::kMainWidth - kFrameWidth), h() - (layout::kMainOpenHeight - kFrameHeight));
  place(*编辑框_URL, boxes.url);
  place(*按钮1, boxes.parse);
  place(*按钮2, boxes.clear);
  place(*按钮3, boxes.copy);
  place(*编辑框_日志, boxes.log);
  place(*选择框_先选择文件, boxes.choose_first);
  place(*按钮_下载, boxes.download);
  place(*状态栏, boxes.status);
  redraw();
}

std::string MainWindow::url_text() const {
  return utf8_to_gbk(编辑框_URL->value());
}

void MainWindow::set_input_enabled(bool enabled) {
  enable(*编辑框_URL, enabled);
  按钮1->copy_label(enabled ? u8"解析" : u8"停止");
}

void MainWindow::set_caption(const std::string& caption) {
  copy_label(gbk_to_utf8(caption).c_str());
}

void MainWindow::append_log(const std::string& text) {
  // The box shows lines ended by LF alone; a CR would be drawn as a glyph.
  编辑框_日志->append(replace_all(gbk_to_utf8(text), "\r", ""));
}

void MainWindow::clear_log() {
  编辑框_日志->clear();
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

void MainWindow::open_captcha_prompt(AppState& state, std::function<void()> on_closed) {
  open_captcha_window(state, std::move(on_closed));
}

bool MainWindow::choose_first() const {
  return 选择框_先选择文件->value() != 0;
}

void MainWindow::set_choose_first(bool on) {
  选择框_先选择文件->value(on ? 1 : 0);
}

void MainWindow::set_download_enabled(bool enabled) {
  enable(*按钮_下载, enabled);
}

void MainWindow::set_status(const std::string& text) {
  状态栏->set_text(text);
}

std::string MainWindow::choose_folder(const std::string& start) {
  if (std::optional<std::string> scripted = scripted_folder_choice()) return *scripted;
  Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_DIRECTORY);
  const std::string title = gbk_to_utf8(kChooseFolderTitle);
  chooser.title(title.c_str());
  chooser.directory(start.c_str());
  if (chooser.show() != 0 || !chooser.filename()) return "";
  return chooser.filename();
}

DownloadView* MainWindow::open_download_window(DownloadPresenter& presenter) {
  if (download_window_) {
    download_window_->hide();
    Fl::delete_widget(download_window_.release());
  }
  // The window says when it goes for good; the toolkit deletes it then.
  auto* window = new DownloadWindow(presenter, [this](Fl_Window* closing) {
    if (download_window_.get() == closing) download_window_.release();
  });
  download_window_.reset(window);
  window->set_non_modal();
  window->show();
  return window;
}

bool MainWindow::ask(const std::string& question, const std::string& caption) {
  return ask_question(question, caption);
}

std::optional<WindowPlace> MainWindow::window_place() const {
  if (!visible()) return std::nullopt;
  // FLTK's pixels are taken as 96-DPI pixels; the frame is the layout's, so
  // that a place kept opens the same size again.
  return WindowPlace{x(), y(), w() + kFrameWidth, h() + kFrameHeight};
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
