// The owner's answer to each way a try can end: every kind of fault has its
// own handling, and no byte already on disk is fetched again for it.

#include <algorithm>

#include "download/download_engine.h"

namespace sharelink {
namespace {

// A server that refuses every new link as expired is refusing for another
// reason: this many new links in a row with no byte end the file.
constexpr int kRenewalsWithoutBytes = 3;

FileFailure http_failure(DownloadFault fault, const FetchResult& result) {
  FileFailure failure;
  failure.fault = fault;
  failure.http_status = result.status;
  failure.http_failure = result.failure;
  failure.http_cause = result.cause;
  failure.reason = result.reason;
  failure.url = result.final_url;
  failure.served_size = result.served_size;
  failure.disk = result.disk;
  return failure;
}

}  // namespace

void Downloader::Impl::handle(Task& task) {
  FileJob& file = files_[task.file];
  if (task.renew) {
    handle_renewal(task);
    return;
  }
  --file.running;
  // A transfer from before a restart from byte 0, or of a file already
  // settled: its bytes are on disk where they belong and nothing else counts.
  if (task.generation != file.generation || file.state != FileJob::State::waiting) return;
  PieceSlot& slot = file.plan->slots()[task.slot];
  slot.running = false;
  const std::uint64_t reached = slot.piece->position();
  if (reached > slot.reached) {
    slot.reached = reached;
    slot.tries = 0;
  }
  if (task.result.bytes > 0) file.renewals_unproven = 0;
  const FetchResult& result = task.result;
  const bool answered = result.status == 206 || (result.status == 200 && file.whole);
  if (task.target.to_link && answered && !result.final_url.empty() &&
      result.final_url != file.link && task.link == file.link)
    file.content_url = result.final_url;
  if (result.end == FetchEnd::complete) {
    if (file.running == 0 && file.plan->complete()) finish_file(file, task.file);
    return;
  }
  handle_fetch_fault(task, slot);
}

void Downloader::Impl::handle_fetch_fault(Task& task, PieceSlot& slot) {
  const std::size_t index = task.file;
  FileJob& file = files_[index];
  const FetchResult& result = task.result;
  const bool old_link = task.link != file.link;
  switch (result.end) {
    case FetchEnd::complete:
    case FetchEnd::stopped:
      return;
    case FetchEnd::cut:
      retry_later(index, slot, result);
      return;
    case FetchEnd::throttled:
      if (!task.target.to_link) {
        // The content host turned us away: its address is the link's to give.
        file.content_url.clear();
      } else if (file.cap > 1) {
        // Each refusal takes one connection off what the file had then.
        file.cap = std::max(1, std::min(file.cap, file.running + 1) - 1);
        observer_.notice(index, file.shown, DownloadNotice::fewer_connections);
      } else {
        retry_later(index, slot, result);
      }
      return;
    case FetchEnd::expired:
      if (!task.target.to_link) {
        file.content_url.clear();
      } else if (old_link || file.renewing || file.renew_wanted) {
        // Sent before the new link came, or one is being asked for.
      } else if (file.renewals_unproven >= kRenewalsWithoutBytes) {
        fail_file(index, http_failure(DownloadFault::refused, result));
      } else if (!renew_) {
        fail_file(index, http_failure(DownloadFault::http, result));
      } else {
        file.renew_wanted = true;
      }
      return;
    case FetchEnd::ignored_range:
      restart_whole(index);
      return;
    case FetchEnd::size_mismatch:
      fail_file(index, http_failure(DownloadFault::size_mismatch, result));
      return;
    case FetchEnd::disk:
      fail_file(index, http_failure(DownloadFault::disk, result));
      return;
    case FetchEnd::status:
    case FetchEnd::failed:
      fail_file(index, http_failure(DownloadFault::http, result));
      return;
  }
}

void Downloader::Impl::retry_later(std::size_t index, PieceSlot& slot, const FetchResult& result) {
  ++slot.tries;
  if (slot.tries >= std::max(settings_.max_tries, 1)) {
    fail_file(index, http_failure(DownloadFault::http, result));
    return;
  }
  const std::vector<int>& delays = settings_.retry_delays_ms;
  const int delay =
      delays.empty() ? 0 : delays[std::min<std::size_t>(slot.tries - 1, delays.size() - 1)];
  slot.not_before = Clock::now() + std::chrono::milliseconds(std::max(delay, 0));
  observer_.notice(index, files_[index].shown, DownloadNotice::retrying);
}

void Downloader::Impl::restart_whole(std::size_t index) {
  FileJob& file = files_[index];
  if (!file.whole) observer_.notice(index, file.shown, DownloadNotice::one_connection);
  file.whole = true;
  file.cap = 1;
  ++file.generation;
  cancel_transfers(index);
  file.plan->restart_whole();
  record_dirty_ = true;
}

void Downloader::Impl::cancel_transfers(std::size_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& worker : workers_) {
    if (worker->phase == Worker::Phase::assigned && !worker->task.renew &&
        worker->task.file == index && worker->task.target.cancel)
      worker->task.target.cancel->cancel();
  }
}

void Downloader::Impl::handle_renewal(Task& task) {
  const std::size_t index = task.file;
  FileJob& file = files_[index];
  file.renewing = false;
  renewal_running_ = false;
  if (file.state != FileJob::State::waiting) return;
  if (task.renew_code != 0 || task.renew_link.empty()) {
    FileFailure failure;
    failure.fault = DownloadFault::renew;
    failure.service_code = task.renew_code;
    fail_file(index, failure);
    return;
  }
  file.link = std::move(task.renew_link);
  file.content_url.clear();
  ++file.renewals_unproven;
  observer_.notice(index, file.shown, DownloadNotice::link_renewed);
}

}  // namespace sharelink
