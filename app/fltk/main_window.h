#pragma once

// The program's main window on FLTK: the URL box, the parse, clear and copy
// buttons, the log box, the check box 先选择文件 with 下载 on its row and the
// status bar, drawn here and run by a MainPresenter. It owns the window 下载
// while that is open.

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>

#include "app/desktop/main_presenter.h"
#include "app/fltk/log_box.h"
#include "app/fltk/widgets.h"

namespace sharelink {

class MainWindow : public Fl_Double_Window, public MainView {
 public:
  MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
             std::FILE* log_mirror, std::string settings_file);
  ~MainWindow() override;

  // What the job's view talks to.
  JobWindow& job_window() { return presenter_; }
  MainPresenter& presenter() { return presenter_; }

  // Before show(): the place and the check box the settings keep; a place no
  // screen shows is left alone.
  void apply_settings();
  void resize(int x, int y, int w, int h) override;

  std::string url_text() const override;
  void set_input_enabled(bool enabled) override;
  void set_caption(const std::string& caption) override;
  void append_log(const std::string& text) override;
  void clear_log() override;
  bool schedule(std::chrono::milliseconds delay) override;
  void put_on_clipboard(const std::string& text) override;
  void show_message(const std::string& text, const std::string& caption) override;
  void open_extraction_code_prompt(std::function<void()> on_closed) override;
  void open_captcha_prompt(AppState& state, std::function<void()> on_closed) override;
  void close_prompts() override;
  bool choose_first() const override;
  void set_choose_first(bool on) override;
  void set_download_enabled(bool enabled) override;
  void set_status(const std::string& text) override;
  std::string choose_folder(const std::string& start) override;
  DownloadView* open_download_window(DownloadPresenter& presenter) override;
  bool ask(const std::string& question, const std::string& caption) override;
  std::optional<WindowPlace> window_place() const override;
  void open_file_choice(std::unique_ptr<ShareTree> tree,
                        FileChoicePresenter::OnClosed on_closed) override;
  void close_all() override;

 private:
  static void on_timer(void* window);
  void place_controls();

  AppState& state_;
  // Deleted after the presenter, whose download may still talk to it while
  // it stops.
  std::unique_ptr<Fl_Window> download_window_;
  MainPresenter presenter_;
  Fl_Input* 编辑框_URL;
  Fl_Button* 按钮1;
  Fl_Button* 按钮2;
  Fl_Button* 按钮3;
  LogBox* 编辑框_日志;
  Fl_Check_Button* 选择框_先选择文件;
  Fl_Button* 按钮_下载;
  TextLine* 状态栏;
};

}  // namespace sharelink
