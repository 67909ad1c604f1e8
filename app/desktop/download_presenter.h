#pragma once

// What the window "下载" does, whatever draws it: the files of the last job
// with their sizes and the folder's free space before anything starts, then
// each file's progress, speed and state, the total line, 开始 / 停止 / 继续,
// 打开文件夹 and the question before a running download is closed. The
// download keeps the list it was opened with and a share session of its own,
// so a new job in the main window cannot change or clear either. A toolkit's
// window is a DownloadView that draws the rows it is asked for and forwards
// its events here. Main thread only; texts are local text.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/desktop/ui_bridge.h"
#include "download/downloader.h"

namespace sharelink {

class DownloadView {
 public:
  virtual ~DownloadView() = default;
  // The list has this many rows; a row's texts come from
  // DownloadPresenter::row when the row is drawn.
  virtual void set_row_count(std::size_t rows) = 0;
  // The rows on screen are drawn again: their texts may have changed.
  virtual void refresh_rows() = 0;
  // The line below the list; warn draws it in red.
  virtual void set_total(const std::string& text, bool warn) = 0;
  virtual void set_buttons(bool start, bool stop, bool resume) = 0;
  // Calls DownloadPresenter::timer_fired once after delay, from the event
  // loop; false when the toolkit refused.
  virtual bool schedule(std::chrono::milliseconds delay) = 0;
  virtual void show_message(const std::string& text, const std::string& caption) = 0;
  // A question with 是 and 否, modal; true for 是.
  virtual bool ask(const std::string& question, const std::string& caption) = 0;
  // Shows folder (UTF-8) in the desktop's file manager.
  virtual void open_folder(const std::string& folder) = 0;
  // Closes the window for good; the presenter calls nothing of it afterwards.
  virtual void close() = 0;
};

// A row of the list, as drawn.
struct DownloadRow {
  std::string path;      // below the share's top, "/"-separated
  std::string size;      // "1.2 MB"
  std::string progress;  // "37%"
  std::string speed;     // "1.5 MB/s" while it downloads, else ""
  std::string state;     // 等待 / 下载中 / 已完成 / 失败: cause
  double fraction = 0;   // 0 to 1, for a bar
  bool failed = false;
};

// What the download window needs of the program around it.
class DownloadHost {
 public:
  virtual ~DownloadHost() = default;
  // Opens the captcha window for the download's own session, one prompt at a
  // time with the job's; on_closed runs when it has closed by either way. The
  // window keeps the session alive while it is open.
  virtual void open_download_captcha(std::shared_ptr<AppState> session,
                                     std::function<void()> on_closed) = 0;
  // A download started or ended: the main window's 下载 follows.
  virtual void download_running(bool running) = 0;
};

// The job's result the download starts from: taken from the main window's
// state when 下载 is pressed, and the download's alone from then on.
struct DownloadSource {
  std::shared_ptr<const FileList> files;
  std::string share_link;  // the share as the record names it
  std::string extraction_code;
  std::string user_agent;  // the one the links were requested with
};

class DownloadPresenter {
 public:
  static constexpr std::chrono::milliseconds kRefresh{200};

  // session: a share session of the download's own, a copy of the job's
  // (its cookies and page values); renewals and their captchas use it.
  // bridge: the main thread's, for the prompts of renewals.
  DownloadPresenter(std::shared_ptr<AppState> session, DownloadSource source, std::string folder,
                    int connections, UiBridge& bridge, DownloadHost& host);
  // Stops a download still running and waits for it: the record is written.
  ~DownloadPresenter();
  DownloadPresenter(const DownloadPresenter&) = delete;
  DownloadPresenter& operator=(const DownloadPresenter&) = delete;

  // The window exists: lists the files, the total size and the free space.
  // 开始 is offered; a total that does not fit shows in red.
  void opened(DownloadView& view);

  // 开始 and 继续: starts or goes on; refused with a message when the files do
  // not fit. 停止: stops; the partial files stay for 继续 or a later 下载.
  void start_clicked();
  void stop_clicked();
  void resume_clicked() { start_clicked(); }
  void open_folder_clicked();
  // The close box: while a download runs it asks whether to stop. When the
  // user agrees, or none runs, the download stops (its record written) and
  // the window is closed through DownloadView::close.
  void close_requested();
  // The main window closes: the same question; true when it may. The window
  // stays until close_window.
  bool may_quit();
  // Stops a download still running and closes the window, when it is open.
  void close_window();
  bool window_open() const { return view_ != nullptr; }
  void timer_fired();

  bool running() const { return running_; }
  const std::string& folder() const { return folder_; }
  std::size_t row_count() const { return rows_.size(); }
  DownloadRow row(std::size_t index) const;

 private:
  struct Inbox;
  struct PromptWait;
  class Prompts;
  enum class RowState { waiting, running, done, failed };
  struct RowData {
    std::string path;
    std::uint64_t size = 0;
    std::uint64_t bytes = 0;
    double speed = 0;
    RowState state = RowState::waiting;
    std::string cause;
  };

  bool prepare();
  void take_news();
  void show_total();
  void end_run(const DownloadSummary& summary);
  void stop_and_wait();
  int renew(std::size_t item, std::string& link);

  std::shared_ptr<AppState> session_;
  DownloadSource source_;
  std::string folder_;
  int connections_;
  UiBridge& bridge_;
  DownloadHost& host_;
  DownloadView* view_ = nullptr;
  std::shared_ptr<PromptWait> prompt_wait_;
  std::unique_ptr<Prompts> prompts_;
  std::unique_ptr<Inbox> inbox_;

  std::vector<DownloadItem> items_;
  std::vector<std::size_t> list_of_item_;  // each item's entry in the list
  std::vector<RowData> rows_;
  DownloadCheck check_;
  std::unique_ptr<Downloader> downloader_;
  std::thread engine_;
  bool running_ = false;
  bool timer_ = false;
  std::chrono::steady_clock::time_point last_news_;
  DownloadProgress progress_;
  std::string closing_;  // the closing line of the last run, "" before one ended
  bool closing_warns_ = false;
};

}  // namespace sharelink
