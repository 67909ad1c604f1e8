#pragma once

// What the main window does, whatever draws it: starting and stopping a job,
// the controls while it runs, the caption with its progress, moving the job's
// lines into the log box, 清空, 复制 and the close box. A toolkit's window is a
// MainView that creates the controls, forwards their events here and does
// what it is told. Main thread only; texts are local text.

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "app/app_state.h"
#include "app/desktop/file_choice.h"
#include "app/desktop/job_launcher.h"
#include "app/desktop/job_window.h"
#include "app/desktop/log_queue.h"
#include "app/desktop/ui_bridge.h"

namespace sharelink {

class MainView {
 public:
  virtual ~MainView() = default;

  virtual std::string url_text() const = 0;
  // Disabled while a job runs: the URL box takes no input and the parse button
  // reads "停止", enabled; enabled again it reads "解析".
  virtual void set_input_enabled(bool enabled) = 0;
  virtual void set_caption(const std::string& caption) = 0;
  // Appends to the end of the log box and scrolls it into view; text has CR LF
  // line ends.
  virtual void append_log(const std::string& text) = 0;
  virtual void clear_log() = 0;
  // Calls MainPresenter::timer_fired once after delay, from the event loop,
  // after input and painting; false when the toolkit refused.
  virtual bool schedule(std::chrono::milliseconds delay) = 0;
  virtual void put_on_clipboard(const std::string& text) = 0;
  virtual void show_message(const std::string& text, const std::string& caption) = 0;
  // Create the prompt window anew above this one, show it and return;
  // on_closed runs once when it has closed, by either way.
  virtual void open_extraction_code_prompt(std::function<void()> on_closed) = 0;
  virtual void open_captcha_prompt(std::function<void()> on_closed) = 0;
  // Closes the prompt and the file choice windows that are open, each as its
  // close box would.
  virtual void close_prompts() = 0;
  // Whether the check box "先选择文件" is on.
  virtual bool choose_first() const = 0;
  // Creates the window "选择文件" above this one, showing tree, and returns.
  virtual void open_file_choice(std::unique_ptr<ShareTree> tree,
                                FileChoicePresenter::OnClosed on_closed) = 0;
  // Closes every window of the program, which ends the event loop.
  virtual void close_all() = 0;
};

class MainPresenter : public JobWindow {
 public:
  // log_mirror: a file that receives every text appended to the log box as it
  // is and is emptied with it; null for none. Tests read the log there.
  MainPresenter(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log, MainView& view,
                std::FILE* log_mirror);
  MainPresenter(const MainPresenter&) = delete;
  MainPresenter& operator=(const MainPresenter&) = delete;

  // The view's events. The parse button starts a job, or while one runs
  // stops it and gives up what it waits for.
  void parse_clicked();
  void clear_clicked();
  void copy_clicked();
  // The close box: releases a waiting job and closes every window.
  void close_clicked();
  void timer_fired();

  // The job's view reaches the window through these.
  std::string url_text() const override;
  // Enabling ends a job: the caption loses its progress.
  void set_input_enabled(bool enabled) override;
  void after_log_shown(std::function<void()> then) override;
  // New lines are taken within LogPump::kLogInterval, together with whatever
  // else arrives until then.
  void log_arrived() override;
  void open_extraction_code_prompt(std::function<void()> on_closed) override;
  void open_captcha_prompt(std::function<void()> on_closed) override;
  // Asks the user when the check box is on as the list is complete, so that
  // it can still be turned on while a share is being listed.
  void open_file_choice(const FileList& files,
                        std::function<void(FileChoice, std::string)> on_closed) override;

 private:
  void append_log(const std::string& text);
  void show_progress(const ResolveProgress& progress);

  AppState& state_;
  JobLauncher& jobs_;
  UiBridge& bridge_;
  MainView& view_;
  std::FILE* log_mirror_;
  LogPump pump_;
  bool input_enabled_ = true;
  bool job_caption_ = false;
};

}  // namespace sharelink
