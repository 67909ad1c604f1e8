#include "app/gui/job_launcher.h"

#include <system_error>
#include <thread>

#include "app/resolve_job.h"

namespace sharelink {

bool JobLauncher::start() {
  if (!state_.try_begin_job()) return false;
  try {
    std::thread([this] { run_job(); }).detach();
  } catch (const std::system_error&) {
    state_.end_job();
    return false;
  }
  return true;
}

void JobLauncher::run_job() {
  ResolveJob(state_, view_).run();
  std::lock_guard<std::mutex> lock(mutex_);
  state_.end_job();
  ended_.notify_all();
}

bool JobLauncher::wait_idle(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return ended_.wait_for(lock, limit, [&] { return !state_.job_running.load(); });
}

}  // namespace sharelink
