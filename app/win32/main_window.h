#pragma once

// The program's main window on Win32: the URL box, the parse, clear and copy
// buttons, the log box, the check box 先选择文件 with 下载 on its row and the
// status strip, drawn here and run by a MainPresenter.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/desktop/main_presenter.h"
#include "app/win32/top_window.h"
#include "app/win32/win_support.h"

namespace sharelink {

class MainWindow : public TopWindow, public MainView {
 public:
  MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
             std::FILE* log_mirror, std::string settings_file);

  // Creates the window, puts it where the settings kept it when a monitor
  // shows that place, and shows it; false when the system refused. Once it
  // has been closed, handle() is null.
  bool open(int show_command);
  HWND handle() const { return window_; }
  // What the job's view talks to.
  JobWindow& job_window() { return presenter_; }

  // Through the window itself.
  void set_caption(const std::string& caption) override;
  // A timer, not a posted message: timers come after input and painting, so a
  // long backlog never holds up the user.
  bool schedule(std::chrono::milliseconds delay) override;
  void put_on_clipboard(const std::string& text) override;
  void show_message(const std::string& text, const std::string& caption) override;
  // Destroys the window with the prompts and the file choice it owns.
  void close_all() override;
  // Through its controls.
  std::string url_text() const override;
  void set_input_enabled(bool enabled) override;
  void append_log(const std::string& text) override;
  void clear_log() override;
  // The prompts are owned by this window: above it, and gone with it.
  void open_extraction_code_prompt(std::function<void()> on_closed) override;
  void open_captcha_prompt(AppState& state, std::function<void()> on_closed) override;
  // By the message of their close boxes; the window 下载 is no prompt.
  void close_prompts() override;
  bool choose_first() const override;
  void set_choose_first(bool on) override;
  void set_download_enabled(bool enabled) override;
  void set_status(const std::string& text) override;
  // The system's folder dialog, owned by this window.
  std::string choose_folder(const std::string& start) override;
  // Owned, like the prompts, but modeless and resizable.
  DownloadView* open_download_window(DownloadPresenter& presenter) override;
  bool ask(const std::string& question, const std::string& caption) override;
  std::optional<WindowPlace> window_place() const override;
  // Owned too, like the prompts.
  void open_file_choice(std::unique_ptr<ShareTree> tree,
                        FileChoicePresenter::OnClosed on_closed) override;

 private:
  LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam) override;
  void make_controls();
  // The controls at their boxes for the client area's size.
  void arrange();
  void put_at_kept_place();

  AppState& state_;
  MainPresenter presenter_;
  HWND 编辑框_URL = nullptr;
  HWND 按钮1 = nullptr;
  HWND 按钮2 = nullptr;
  HWND 按钮3 = nullptr;
  HWND 编辑框_日志 = nullptr;
  HWND 选择框_先选择文件 = nullptr;
  HWND 按钮_下载 = nullptr;
  HWND 标签_状态 = nullptr;
};

}  // namespace sharelink
