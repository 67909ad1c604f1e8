#include "app/desktop/job_launcher.h"

#include <memory>
#include <system_error>

#include "app/resolve_job.h"

namespace sharelink {

bool JobLauncher::start() {
  if (!state_.try_begin_job()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++threads_;
  }
  // Joined by the new thread rather than here: the old one may be waiting for
  // this very thread to re-enable the controls.
  auto previous = std::make_shared<std::thread>(std::move(newest_));
  try {
    newest_ = std::thread([this, previous] {
      if (previous->joinable()) previous->join();
      run_job();
    });
  } catch (const std::system_error&) {
    newest_ = std::move(*previous);
    std::lock_guard<std::mutex> lock(mutex_);
    --threads_;
    state_.end_job();
    return false;
  }
  return true;
}

void JobLauncher::run_job() {
  ResolveJob(state_, view_).run();
  std::lock_guard<std::mutex> lock(mutex_);
  --threads_;
  ended_.notify_all();
}

bool JobLauncher::wait_idle(std::chrono::milliseconds limit) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ended_.wait_for(lock, limit, [&] { return threads_ == 0; })) return false;
  }
  if (newest_.joinable()) newest_.join();
  return true;
}

}  // namespace sharelink
