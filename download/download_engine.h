#pragma once

// Inside the downloader: the files with their plans, the connections, and
// the owner's loop that hands pieces to the connections. Only the thread in
// run() plans and decides; the connection threads fetch and report back.
//
// The connections are threads of our own rather than share/work_pool.h: the
// owner must wake at once for a link from the resolving thread and for a
// retry's due time while every connection is busy, and the pool's next()
// waits only for its own work, without a deadline.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "download/downloader.h"
#include "download/manifest.h"
#include "download/piece_fetch.h"
#include "download/piece_plan.h"

namespace sharelink {

using Clock = std::chrono::steady_clock;

struct FileJob {
  enum class State { waiting, done, failed };
  DownloadItem item;
  std::string local;  // below the folder, "/"-separated, UTF-8
  std::string shown;  // the same in local text, for the observer
  State state = State::waiting;
  std::vector<DownloadNotice> notices;  // from prepare, told when run() starts
  std::unique_ptr<FilePlan> plan;
  bool fresh = true;  // nothing of an earlier run is kept
  std::string link;
  std::string content_url;  // where the link led: later pieces go there directly
  std::shared_ptr<DiskFile> file;
  int cap = 16;             // connections at once
  int running = 0;          // transfers under way, those of an earlier generation too
  unsigned generation = 0;  // a restart from byte 0 makes earlier transfers moot
  bool whole = false;
  bool renew_wanted = false;
  bool renewing = false;
  // New links that came with no byte since. A new link may age unused while
  // the connections serve other files, so one refusal is not yet proof.
  int renewals_unproven = 0;
};

struct Task {
  bool renew = false;
  std::size_t file = 0;
  std::size_t slot = 0;
  unsigned generation = 0;
  std::string link;  // the file's link when the task began
  FetchTarget target;
  FetchResult result;
  int renew_code = 0;
  std::string renew_link;
};

struct Worker {
  enum class Phase { idle, assigned, finished };
  Phase phase = Phase::idle;
  Task task;
  std::thread thread;
};

struct Downloader::Impl {
  Impl(DownloadSettings settings, DownloadObserver& observer, RenewLink renew);

  // download_prepare.cpp
  DownloadCheck prepare(std::vector<DownloadItem> items);
  Manifest record() const;
  void write_record();
  std::string final_path(const FileJob& file) const;
  std::string part_path(const FileJob& file) const;

  // downloader.cpp: the owner's loop
  DownloadSummary run();
  void loop();
  void take_inbox(Clock::time_point wake_at, std::vector<Task>& ended, bool& stopping);
  void handle(Task& task);
  void schedule();
  std::optional<Task> next_task();
  std::optional<Task> start_piece(std::size_t index, std::size_t slot);
  bool open_file(FileJob& file, std::size_t index);
  void finish_file(FileJob& file, std::size_t index);
  void fail_file(std::size_t index, FileFailure failure);
  void report_progress(bool final);
  bool everything_settled() const;

  // download_faults.cpp: the ends of a try other than success
  void handle_fetch_fault(Task& task, PieceSlot& slot);
  void handle_renewal(Task& task);
  void retry_later(std::size_t index, PieceSlot& slot, const FetchResult& result);
  void restart_whole(std::size_t index);
  void cancel_transfers(std::size_t index);

  // The connections
  void start_workers();
  void serve(Worker& worker);
  void end_workers();
  void assign(Worker& worker, Task task);

  const DownloadSettings settings_;
  DownloadObserver& observer_;
  const RenewLink renew_;
  int connections_ = 8;
  std::vector<FileJob> files_;
  std::vector<FileRecord> others_;  // records of files not in this download
  bool prepared_ = false;
  bool ran_ = false;

  // Shared with the connections and the callers of add_link, links_done and
  // stop, under mutex_.
  std::mutex mutex_;
  std::condition_variable owner_wake_;
  std::condition_variable worker_wake_;
  std::vector<std::pair<std::size_t, std::string>> new_links_;
  bool links_done_ = false;
  bool stop_ = false;
  bool quit_ = false;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::atomic<std::uint64_t> fetched_{0};

  // The owner's alone.
  std::shared_ptr<HttpConnectionPool> pool_;
  bool links_over_ = false;
  bool renewal_running_ = false;
  Clock::time_point started_;
  Clock::time_point last_record_{};
  std::uint64_t recorded_fetched_ = 0;
  bool record_dirty_ = false;
  Clock::time_point last_progress_{};
  std::uint64_t progress_fetched_ = UINT64_MAX;
  std::deque<std::pair<Clock::time_point, std::uint64_t>> speed_samples_;
  int files_done_ = 0;
  int files_failed_ = 0;
};

}  // namespace sharelink
