#pragma once

// The program's main window on FLTK: the URL box, the parse, clear and copy
// buttons, the log box and the check box 先选择文件, drawn here and run by a
// MainPresenter.

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Editor.H>

#include "app/desktop/main_presenter.h"

namespace sharelink {

class MainWindow : public Fl_Double_Window, public MainView {
 public:
  MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
             std::FILE* log_mirror);
  ~MainWindow() override;

  // What the job's view talks to.
  JobWindow& job_window() { return presenter_; }

  std::string url_text() const override;
  void set_input_enabled(bool enabled) override;
  void set_caption(const std::string& caption) override;
  void append_log(const std::string& text) override;
  void clear_log() override;
  bool schedule(std::chrono::milliseconds delay) override;
  void put_on_clipboard(const std::string& text) override;
  void show_message(const std::string& text, const std::string& caption) override;
  void open_extraction_code_prompt(std::function<void()> on_closed) override;
  void open_captcha_prompt(std::function<void()> on_closed) override;
  void close_prompts() override;
  bool choose_first() const override;
  void open_file_choice(std::unique_ptr<ShareTree> tree,
                        FileChoicePresenter::OnClosed on_closed) override;
  void close_all() override;

 private:
  static void on_timer(void* window);

  AppState& state_;
  MainPresenter presenter_;
  // Outlives the log box, which refers to it until the window's children are
  // deleted in the destructor.
  std::unique_ptr<Fl_Text_Buffer> log_text_;
  Fl_Input* 编辑框_URL;
  Fl_Button* 按钮1;
  Fl_Button* 按钮2;
  Fl_Button* 按钮3;
  Fl_Text_Editor* 编辑框_日志;
  Fl_Check_Button* 选择框_先选择文件;
};

}  // namespace sharelink
