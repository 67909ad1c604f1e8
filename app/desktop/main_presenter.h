#pragma once

// What the main window does, whatever draws it: starting and stopping a job,
// the controls while it runs, the caption and the status bar with its
// progress, moving the job's lines into the log box, 清空, 复制, 下载 with its
// window, the prompts one at a time, the settings kept from one start to the
// next and the close box. A toolkit's window is a MainView that creates the
// controls, forwards their events here and does what it is told. Main thread
// only; texts are local text.

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/desktop/download_presenter.h"
#include "app/desktop/file_choice.h"
#include "app/desktop/job_launcher.h"
#include "app/desktop/job_window.h"
#include "app/desktop/log_queue.h"
#include "app/desktop/settings.h"
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
  // The captcha window answers into state: the job's, or a download's own.
  virtual void open_extraction_code_prompt(std::function<void()> on_closed) = 0;
  virtual void open_captcha_prompt(AppState& state, std::function<void()> on_closed) = 0;
  // Closes the prompt and the file choice windows that are open, each as its
  // close box would.
  virtual void close_prompts() = 0;
  // Whether the check box "先选择文件" is on.
  virtual bool choose_first() const = 0;
  virtual void set_choose_first(bool on) = 0;
  // The button 下载.
  virtual void set_download_enabled(bool enabled) = 0;
  // The strip below the log box.
  virtual void set_status(const std::string& text) = 0;
  // The platform's folder chooser, starting in start (UTF-8); the folder
  // chosen, UTF-8, or "" when the user cancelled. scripted_folder_choice()
  // answers it when set.
  virtual std::string choose_folder(const std::string& start) = 0;
  // Creates the window "下载", modeless and owned by this one, for presenter,
  // and shows it; null when it could not be made. Its events go to presenter,
  // which outlives it.
  virtual DownloadView* open_download_window(DownloadPresenter& presenter) = 0;
  // A question with 是 and 否, modal; true for 是.
  virtual bool ask(const std::string& question, const std::string& caption) = 0;
  // The window's outer frame now, in 96-DPI pixels; nullopt when unknown.
  virtual std::optional<WindowPlace> window_place() const = 0;
  // Creates the window "选择文件" above this one, showing tree, and returns.
  virtual void open_file_choice(std::unique_ptr<ShareTree> tree,
                                FileChoicePresenter::OnClosed on_closed) = 0;
  // Closes every window of the program, which ends the event loop.
  virtual void close_all() = 0;
};

class MainPresenter : public JobWindow, private DownloadHost {
 public:
  // log_mirror: a file that receives every text appended to the log box as it
  // is and is emptied with it; null for none. Tests read the log there.
  // settings_file: where the settings are kept; "" keeps none.
  MainPresenter(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log, MainView& view,
                std::FILE* log_mirror, std::string settings_file = {});
  ~MainPresenter() override;
  MainPresenter(const MainPresenter&) = delete;
  MainPresenter& operator=(const MainPresenter&) = delete;

  // The settings read at start: the view places its window by them before
  // it is shown, and calls started() once it is.
  const Settings& settings() const { return settings_; }
  void started();

  // The view's events. The parse button starts a job, or while one runs
  // stops it and gives up what it waits for. Enter in the URL box starts a
  // job when none runs.
  void parse_clicked();
  void url_entered();
  void clear_clicked();
  // Puts every link on the clipboard; with none it leaves the clipboard as it
  // was and says so.
  void copy_clicked();
  // Chooses a folder and opens the window "下载" for the last job's files.
  void download_clicked();
  // The close box: during a download asks whether to stop it; then keeps the
  // settings, stops the download (its record written), releases a waiting
  // job and closes every window.
  void close_clicked();
  void timer_fired();

  // The download window's presenter, while one exists.
  DownloadPresenter* download() { return download_.get(); }

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
  // DownloadHost.
  void open_download_captcha(std::shared_ptr<AppState> session,
                             std::function<void()> on_closed) override;
  void download_running(bool running) override;
  // Opens a prompt now, or once the one open has closed.
  void queue_prompt(std::function<void(std::function<void()>)> open,
                    std::function<void()> on_closed);
  void prompt_closed();
  void update_download_button();
  void show_job_end();
  void save_settings();

  AppState& state_;
  JobLauncher& jobs_;
  UiBridge& bridge_;
  MainView& view_;
  std::FILE* log_mirror_;
  LogPump pump_;
  bool input_enabled_ = true;
  bool job_caption_ = false;
  std::string settings_file_;
  Settings settings_;
  // The job under way or last: its link as typed, when it started.
  std::string job_url_;
  std::chrono::steady_clock::time_point job_start_;
  std::string last_status_;  // the words of the job's last status line
  // Prompts waiting for the one open to close, each with what opens it.
  bool prompt_open_ = false;
  std::vector<std::pair<std::function<void(std::function<void()>)>, std::function<void()>>>
      waiting_prompts_;
  std::unique_ptr<DownloadPresenter> download_;
};

}  // namespace sharelink
