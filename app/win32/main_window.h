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
             std::FILE* log_mirror)
      : state_(state), jobs_(jobs), bridge_(bridge), log_(log), log_mirror_(log_mirror) {}
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates and shows the window; false when the system refused. Once it has
  // been closed, handle() is null.
  bool open(int show_command);
  HWND handle() const { return window_; }

  std::string url_text() const override;
  void set_input_enabled(bool enabled) override;
  void after_log_shown(std::function<void()> then) override;
  // New lines are taken within kLogInterval, together with whatever else
  // arrives until then.
  void log_arrived() override;
  // The prompts are owned by this window: above it, and gone with it.
  void open_extraction_code_prompt(std::function<void()> on_closed) override;
  void open_captcha_prompt(std::function<void()> on_closed) override;

 private:
  static constexpr std::chrono::milliseconds kLogInterval{30};
  // How long one turn of the message loop may spend putting text into the box:
  // a big report goes in over several turns, and the window answers in between.
  static constexpr std::chrono::milliseconds kShowBudget{40};

  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam);
  void make_controls();
  void schedule_pump(std::chrono::milliseconds delay);
  // Takes the queue and shows what waits, within kShowBudget.
  void pump();
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
  LogQueue& log_;
  std::FILE* log_mirror_;
  HWND window_ = nullptr;
  HWND last_focus_ = nullptr;  // the control that gets the focus back
  bool pump_pending_ = false;
  bool job_caption_ = false;
  std::chrono::steady_clock::time_point last_take_;
  LogBacklog backlog_;
  std::vector<std::function<void()>> waiting_;  // for the backlog to be shown
  HWND 编辑框_URL = nullptr;
  HWND 按钮1 = nullptr;
  HWND 按钮2 = nullptr;
  HWND 按钮3 = nullptr;
  HWND 编辑框_日志 = nullptr;
};

}  // namespace sharelink
