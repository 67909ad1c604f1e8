#include "download/downloader.h"

#include <algorithm>
#include <new>
#include <system_error>

#include "download/download_engine.h"

namespace sharelink {
namespace {

constexpr auto kProgressEvery = std::chrono::milliseconds(100);
constexpr auto kSpeedWindow = std::chrono::seconds(5);

}  // namespace

Downloader::Downloader(DownloadSettings settings, DownloadObserver& observer, RenewLink renew)
    : impl_(std::make_unique<Impl>(std::move(settings), observer, std::move(renew))) {}

Downloader::~Downloader() {
  stop();
}

DownloadCheck Downloader::prepare(std::vector<DownloadItem> items) {
  try {
    return impl_->prepare(std::move(items));
  } catch (const std::exception& error) {
    impl_->prepared_ = false;
    DownloadCheck check;
    check.ok = false;
    check.disk.cause = DiskCause::other;
    check.disk.path = impl_->settings_.folder;
    check.disk.reason = error.what();
    return check;
  }
}

void Downloader::add_link(std::size_t index, std::string link) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->new_links_.emplace_back(index, std::move(link));
  impl_->owner_wake_.notify_all();
}

void Downloader::links_done() {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->links_done_ = true;
  impl_->owner_wake_.notify_all();
}

void Downloader::stop() {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->stop_ = true;
  for (const auto& worker : impl_->workers_) {
    if (worker->phase == Worker::Phase::assigned && worker->task.target.cancel)
      worker->task.target.cancel->cancel();
  }
  impl_->owner_wake_.notify_all();
}

DownloadSummary Downloader::run() {
  return impl_->run();
}

DownloadSummary Downloader::Impl::run() {
  DownloadSummary summary;
  started_ = Clock::now();
  if (ran_ || !prepared_) return summary;
  ran_ = true;
  pool_ = make_connection_pool();
  for (std::size_t index = 0; index < files_.size(); ++index) {
    FileJob& file = files_[index];
    for (const DownloadNotice notice : file.notices)
      observer_.notice(index, file.shown, notice);
    if (file.state == FileJob::State::done) {
      ++files_done_;
      observer_.file_done(index, file.shown);
    }
  }
  try {
    start_workers();
    loop();
  } catch (...) {
    // Out of memory in the owner's own bookkeeping: a clean end, as a stop.
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  end_workers();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    summary.stopped = stop_;
  }
  try {
    write_record();
    report_progress(true);
  } catch (...) {
  }
  summary.files_done = files_done_;
  summary.files_failed = files_failed_;
  summary.bytes = fetched_.load();
  summary.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
  return summary;
}

void Downloader::Impl::loop() {
  Clock::time_point wake_at = Clock::now();
  for (;;) {
    std::vector<Task> ended;
    bool stopping = false;
    take_inbox(wake_at, ended, stopping);
    for (Task& task : ended)
      handle(task);
    if (stopping) return;
    if (links_over_) {
      for (std::size_t index = 0; index < files_.size(); ++index) {
        if (files_[index].state == FileJob::State::waiting && files_[index].link.empty()) {
          FileFailure failure;
          failure.fault = DownloadFault::no_link;
          fail_file(index, failure);
        }
      }
    }
    if (everything_settled()) return;
    schedule();
    const Clock::time_point now = Clock::now();
    if (now - last_progress_ >= kProgressEvery) report_progress(false);
    const bool bytes_came = fetched_.load(std::memory_order_relaxed) != recorded_fetched_;
    if ((bytes_came || record_dirty_) &&
        now - last_record_ >= std::chrono::milliseconds(settings_.record_interval_ms))
      write_record();
    wake_at = now + kProgressEvery;
  }
}

void Downloader::Impl::take_inbox(Clock::time_point wake_at, std::vector<Task>& ended,
                                  bool& stopping) {
  std::vector<std::pair<std::size_t, std::string>> links;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto has_news = [&] {
      if (stop_ || !new_links_.empty() || (links_done_ && !links_over_)) return true;
      return std::any_of(workers_.begin(), workers_.end(), [](const auto& worker) {
        return worker->phase == Worker::Phase::finished;
      });
    };
    owner_wake_.wait_until(lock, wake_at, has_news);
    stopping = stop_;
    links.swap(new_links_);
    links_over_ = links_done_;
    for (const auto& worker : workers_) {
      if (worker->phase != Worker::Phase::finished) continue;
      ended.push_back(std::move(worker->task));
      worker->task = Task{};
      worker->phase = Worker::Phase::idle;
    }
  }
  for (auto& [index, link] : links) {
    if (index >= files_.size() || link.empty()) continue;
    FileJob& file = files_[index];
    if (file.state != FileJob::State::waiting) continue;
    file.link = std::move(link);
    file.content_url.clear();
  }
}

bool Downloader::Impl::everything_settled() const {
  return std::all_of(files_.begin(), files_.end(), [](const FileJob& file) {
    return file.state != FileJob::State::waiting && file.running == 0;
  });
}

void Downloader::Impl::schedule() {
  for (const auto& worker : workers_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (worker->phase != Worker::Phase::idle) continue;
    }
    std::optional<Task> task = next_task();
    if (!task) return;
    assign(*worker, std::move(*task));
  }
}

std::optional<Task> Downloader::Impl::next_task() {
  if (!renewal_running_ && renew_) {
    for (std::size_t index = 0; index < files_.size(); ++index) {
      FileJob& file = files_[index];
      if (file.state != FileJob::State::waiting || !file.renew_wanted) continue;
      file.renew_wanted = false;
      file.renewing = renewal_running_ = true;
      Task task;
      task.renew = true;
      task.file = index;
      return task;
    }
  }
  const Clock::time_point now = Clock::now();
  std::uint64_t left_everywhere = 0;
  for (const FileJob& file : files_) {
    if (file.state == FileJob::State::waiting && !file.link.empty())
      left_everywhere += file.plan->unplanned() + file.plan->running_left();
  }
  const auto usable = [&](FileJob& file) {
    return file.state == FileJob::State::waiting && !file.link.empty() && !file.renewing &&
           !file.renew_wanted && file.running < file.cap;
  };
  for (std::size_t index = 0; index < files_.size(); ++index) {
    FileJob& file = files_[index];
    if (!usable(file) || !open_file(file, index)) continue;
    if (file.running == 0 && file.plan->complete()) {
      finish_file(file, index);
      continue;
    }
    auto& slots = file.plan->slots();
    for (std::size_t slot = 0; slot < slots.size(); ++slot) {
      if (!slots[slot].running && !slots[slot].piece->complete() && slots[slot].not_before <= now)
        return start_piece(index, slot);
    }
    if (file.whole && !slots.empty()) continue;
    const std::uint64_t length =
        file.whole ? file.item.size
                   : next_piece_length(left_everywhere, file.plan->unplanned(), connections_,
                                       settings_.smallest_piece, settings_.largest_piece);
    if (const std::optional<std::size_t> slot = file.plan->plan_next(length))
      return start_piece(index, *slot);
  }
  // Nothing left that nobody has: the back half of a running piece.
  for (std::size_t index = 0; index < files_.size(); ++index) {
    FileJob& file = files_[index];
    if (!usable(file) || file.whole) continue;
    if (const std::optional<std::size_t> slot = file.plan->steal(settings_.smallest_piece))
      return start_piece(index, *slot);
  }
  return std::nullopt;
}

std::optional<Task> Downloader::Impl::start_piece(std::size_t index, std::size_t slot_index) {
  FileJob& file = files_[index];
  PieceSlot& slot = file.plan->slots()[slot_index];
  slot.running = true;
  ++file.running;
  Task task;
  task.file = index;
  task.slot = slot_index;
  task.generation = file.generation;
  task.link = file.link;
  FetchTarget& target = task.target;
  target.to_link = file.content_url.empty();
  target.url = target.to_link ? file.link : file.content_url;
  if (target.to_link && !settings_.cookies.empty()) target.cookies = settings_.cookies;
  target.user_agent = settings_.user_agent;
  target.stall_seconds = settings_.stall_seconds;
  target.file_size = file.item.size;
  target.whole = file.whole;
  target.connections = pool_;
  target.cancel = std::make_shared<HttpCancel>();
  target.file = file.file;
  target.piece = slot.piece;
  return task;
}

bool Downloader::Impl::open_file(FileJob& file, std::size_t index) {
  if (file.file) return true;
  DiskError error;
  const std::size_t slash = file.local.rfind('/');
  if (slash != std::string::npos)
    error = make_folders(join_path(settings_.folder, file.local.substr(0, slash)));
  std::unique_ptr<DiskFile> opened;
  if (!error) opened = DiskFile::open(part_path(file), error);
  // A .part of ours with nothing worth keeping may hold an older size's bytes.
  if (opened && file.fresh) error = opened->resize(0);
  if (error || !opened) {
    FileFailure failure;
    failure.fault = DownloadFault::disk;
    failure.disk = error;
    fail_file(index, failure);
    return false;
  }
  file.file = std::move(opened);
  return true;
}

void Downloader::Impl::finish_file(FileJob& file, std::size_t index) {
  file.file.reset();
  const std::optional<std::uint64_t> size = file_size(part_path(file));
  DiskError error;
  if (size != file.item.size) {
    error.cause = DiskCause::other;
    error.path = part_path(file);
    error.reason = "the file on disk is not of the listed size";
  } else {
    error = rename_replacing(part_path(file), final_path(file));
  }
  if (error) {
    FileFailure failure;
    failure.fault = DownloadFault::disk;
    failure.disk = error;
    fail_file(index, failure);
    return;
  }
  file.state = FileJob::State::done;
  ++files_done_;
  record_dirty_ = true;
  observer_.file_done(index, file.shown);
}

void Downloader::Impl::fail_file(std::size_t index, FileFailure failure) {
  FileJob& file = files_[index];
  if (file.state != FileJob::State::waiting) return;
  file.state = FileJob::State::failed;
  cancel_transfers(index);
  file.file.reset();
  ++files_failed_;
  record_dirty_ = true;
  observer_.file_failed(index, file.shown, failure);
}

void Downloader::Impl::report_progress(bool final) {
  const Clock::time_point now = Clock::now();
  const std::uint64_t fetched = fetched_.load(std::memory_order_relaxed);
  if (!final && fetched == progress_fetched_) return;
  last_progress_ = now;
  progress_fetched_ = fetched;
  speed_samples_.emplace_back(now, fetched);
  while (speed_samples_.size() > 2 && now - speed_samples_.front().first > kSpeedWindow)
    speed_samples_.pop_front();
  DownloadProgress progress;
  progress.files_total = static_cast<int>(files_.size());
  progress.files_done = files_done_;
  progress.files_failed = files_failed_;
  std::uint64_t total_kept = 0;
  for (std::size_t index = 0; index < files_.size(); ++index) {
    const FileJob& file = files_[index];
    progress.bytes_total += file.item.size;
    if (file.state == FileJob::State::failed) continue;
    total_kept += file.item.size;
    progress.bytes_done += file.state == FileJob::State::done ? file.item.size : file.plan->done();
    if (file.state == FileJob::State::waiting && file.running > 0)
      progress.under_way.push_back({index, file.plan->done()});
  }
  const double seconds = std::chrono::duration<double>(now - speed_samples_.front().first).count();
  if (seconds > 0.2)
    progress.bytes_per_second =
        static_cast<double>(fetched - speed_samples_.front().second) / seconds;
  if (progress.bytes_per_second > 0)
    progress.seconds_left =
        static_cast<double>(total_kept - std::min(total_kept, progress.bytes_done)) /
        progress.bytes_per_second;
  observer_.progress(progress);
}

void Downloader::Impl::start_workers() {
  for (int i = 0; i < connections_; ++i) {
    auto worker = std::make_unique<Worker>();
    Worker& at = *worker;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      workers_.push_back(std::move(worker));
    }
    try {
      at.thread = std::thread([this, &at] { serve(at); });
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> lock(mutex_);
      workers_.pop_back();
      break;  // fewer connections
    }
  }
}

void Downloader::Impl::end_workers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    for (const auto& worker : workers_) {
      if (worker->phase == Worker::Phase::assigned && worker->task.target.cancel)
        worker->task.target.cancel->cancel();
    }
  }
  worker_wake_.notify_all();
  for (const auto& worker : workers_) {
    if (worker->thread.joinable()) worker->thread.join();
  }
}

void Downloader::Impl::assign(Worker& worker, Task task) {
  std::lock_guard<std::mutex> lock(mutex_);
  worker.task = std::move(task);
  worker.phase = Worker::Phase::assigned;
  if (stop_ && worker.task.target.cancel) worker.task.target.cancel->cancel();
  worker_wake_.notify_all();
}

void Downloader::Impl::serve(Worker& worker) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    worker_wake_.wait(lock, [&] { return quit_ || worker.phase == Worker::Phase::assigned; });
    if (worker.phase != Worker::Phase::assigned) return;
    Task task = worker.task;
    lock.unlock();
    // Nothing may unwind out of a thread: any exception is this try's end.
    try {
      if (task.renew) {
        task.renew_code = renew_(task.file, task.renew_link);
      } else {
        task.result = fetch_piece(task.target, fetched_);
      }
    } catch (const std::exception& error) {
      task.renew_code = -1;
      task.result.end = FetchEnd::failed;
      task.result.cause = HttpCause::out_of_memory;
      task.result.reason = error.what();
    } catch (...) {
      task.renew_code = -1;
      task.result.end = FetchEnd::failed;
      task.result.cause = HttpCause::other;
    }
    lock.lock();
    worker.task = std::move(task);
    worker.phase = Worker::Phase::finished;
    owner_wake_.notify_all();
  }
}

}  // namespace sharelink
