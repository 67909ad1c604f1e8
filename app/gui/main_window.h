#pragma once

// The program's main window: the URL box, the parse, clear and copy buttons and
// the log box.

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Editor.H>

#include "app/app_state.h"
#include "app/gui/job_launcher.h"
#include "app/gui/job_window.h"
#include "app/gui/log_queue.h"
#include "app/gui/ui_bridge.h"

namespace sharelink {

class MainWindow : public Fl_Double_Window, public JobWindow {
 public:
  // log_mirror: a file that receives every text appended to the log box as it
  // is (local text with its CR LF line ends) and is emptied with it; null for
  // none. Tests read the log there.
  // log: where the job leaves its lines for this window.
  MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
             std::FILE* log_mirror);
  ~MainWindow() override;

  std::string url_text() const override;
  void set_input_enabled(bool enabled) override;
  void after_log_shown(std::function<void()> then) override;
  // New lines are taken within LogPump::kLogInterval, together with whatever
  // else arrives until then.
  void log_arrived() override;
  void open_extraction_code_prompt(std::function<void()> on_closed) override;
  void open_captcha_prompt(std::function<void()> on_closed) override;

 private:
  static void on_pump_timer(void* window);
  void append_log(const std::string& text);
  void show_progress(const ResolveProgress& progress);
  void copy_links();

  void on_parse_clicked();
  void on_clear_clicked();
  void on_copy_clicked();
  // The close box: releases a waiting job and closes every window, which ends
  // the event loop.
  void on_close();

  AppState& state_;
  JobLauncher& jobs_;
  UiBridge& bridge_;
  std::FILE* log_mirror_;
  LogPump pump_;
  bool job_caption_ = false;
  // Outlives the log box, which refers to it until the window's children are
  // deleted in the destructor.
  std::unique_ptr<Fl_Text_Buffer> log_text_;
  Fl_Input* 编辑框_URL;
  Fl_Button* 按钮1;
  Fl_Button* 按钮2;
  Fl_Button* 按钮3;
  Fl_Text_Editor* 编辑框_日志;
};

}  // namespace sharelink
