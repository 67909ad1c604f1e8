#pragma once

// Downloads what a resolve job keeps, while the job runs: the engine plans
// every file once the list is chosen, starts on each link as the job keeps
// it, and an expired link is asked for again in the job's share session,
// with the job's prompts, once the job has ended.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/job_view.h"
#include "download/downloader.h"

namespace sharelink {

enum class DownloadOutcome {
  complete,    // every file is in the folder
  failed,      // a file failed, or the download could not start
  gave_up,     // a prompt for a renewed link was given up
  stopped,     // stopped: the partial files stay for the next run
  not_started  // the job kept no file to download
};

// The files of a list as the downloader takes them, in list order, and the
// list entry of each.
std::vector<DownloadItem> download_items(const FileList& files,
                                         std::vector<std::size_t>& list_of_item);

// A new link for entry in state's share session after its link expired,
// asking prompts for a captcha when the service demands one: 0 and link, or
// the code it ended with. gave_up is set when a captcha prompt was given up;
// note gets the log's line when the extraction code was verified again. Not
// while a job resolves in that session.
int renew_with_prompts(AppState& state, JobView& prompts, const FileEntry& entry, std::string& link,
                       bool& gave_up, const std::function<void(const std::string&)>& note);

class ShareDownload : private DownloadObserver {
 public:
  // A line for the log, local text, with its time stamp and line end.
  using LineSink = std::function<void(const std::string& line)>;
  using ProgressSink = std::function<void(const DownloadProgress&)>;

  // prompts shows the prompts of renewals; the state is the job's.
  ShareDownload(AppState& state, JobView& prompts, DownloadSettings settings, LineSink lines,
                ProgressSink progress);
  ~ShareDownload() override;
  ShareDownload(const ShareDownload&) = delete;
  ShareDownload& operator=(const ShareDownload&) = delete;

  // Hooks onto the job's share client; the job runs after it.
  void attach();
  // After the job has ended (its report written): the lines held back until
  // now follow it, files that got no link fail, and the download runs to its
  // end on the calling thread. The closing line ends the log.
  DownloadOutcome finish();
  // Any thread: ends the download at once; the partial files stay.
  void stop();

 private:
  void on_list(const FileList& files);
  void on_link(std::size_t list_index, const FileEntry& entry);
  int renew(std::size_t item, std::string& link);
  void write_line(const std::string& text);

  void file_done(std::size_t index, const std::string& local_path) override;
  void file_failed(std::size_t index, const std::string& local_path,
                   const FileFailure& failure) override;
  void notice(std::size_t index, const std::string& local_path, DownloadNotice notice) override;
  void progress(const DownloadProgress& progress) override;

  AppState& state_;
  JobView& prompts_;
  DownloadSettings settings_;
  LineSink lines_;
  ProgressSink progress_;
  std::unique_ptr<Downloader> downloader_;
  std::vector<std::size_t> item_of_list_;  // the item of each list entry; npos for folders
  std::vector<std::size_t> list_of_item_;
  std::thread engine_;
  DownloadSummary summary_;
  DownloadCheck check_;
  bool prepared_ = false;
  bool gave_up_ = false;

  std::mutex mutex_;
  std::condition_variable job_over_changed_;
  bool job_over_ = false;  // renewals wait for it: they share the job's session
  bool stopped_ = false;
  bool hold_lines_ = true;  // until the job's report is out
  std::vector<std::string> held_lines_;
};

}  // namespace sharelink
