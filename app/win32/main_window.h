#pragma once

// The program's main window on Win32: the URL box, the parse, clear and copy
// buttons and the log box.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/gui/job_launcher.h"
#include "app/gui/job_window.h"
#include "app/gui/log_queue.h"
#include "app/gui/ui_bridge.h"

namespace sharelink {

class MainWindow : public JobWindow {
 public:
  // log_mirror: a file that receives every text appended to the log box as it
  // is (local text with its CR LF line ends) and is emptied with it; null for
  // none. Tests read the log there.
  // log: where the job leaves its lines for this window.
  MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
             std::FILE* log_mirror);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates and shows the window; false when the system refused. Once it has
  // been closed, handle() is null.
  bool open(int show_command);
  HWND handle() const { return window_; }

  std::string url_text() const override;
  void set_input_enabled(bool enabled) override;
  void after_log_shown(std::function<void()> then) override;
  // New lines are taken within LogPump::kLogInterval, together with whatever
  // else arrives until then.
  void log_arrived() override;
  // The prompts are owned by this window: above it, and gone with it.
  void open_extraction_code_prompt(std::function<void()> on_closed) override;
  void open_captcha_prompt(std::function<void()> on_closed) override;

 private:
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam);
  void make_controls();
  bool schedule_pump(std::chrono::milliseconds delay);
  void append_log(const std::string& text);
  void show_progress(const ResolveProgress& progress);
  void copy_links();

  void on_parse_clicked();
  void on_clear_clicked();
  void on_copy_clicked();
  // The close box: releases a waiting job and closes every window, which ends
  // the message loop.
  void on_close();

  AppState& state_;
  JobLauncher& jobs_;
  UiBridge& bridge_;
  std::FILE* log_mirror_;
  LogPump pump_;
  HWND window_ = nullptr;
  HWND last_focus_ = nullptr;  // the control that gets the focus back
  bool job_caption_ = false;
  HWND 编辑框_URL = nullptr;
  HWND 按钮1 = nullptr;
  HWND 按钮2 = nullptr;
  HWND 按钮3 = nullptr;
  HWND 编辑框_日志 = nullptr;
};

}  // namespace sharelink
