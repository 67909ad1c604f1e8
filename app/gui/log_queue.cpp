#include "app/gui/log_queue.h"

#include <utility>

namespace sharelink {

bool LogQueue::announce() {
  if (announced_) return false;
  announced_ = true;
  return true;
}

bool LogQueue::push(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  waiting_.text += text;
  return announce();
}

bool LogQueue::set_progress(const ResolveProgress& progress) {
  std::lock_guard<std::mutex> lock(mutex_);
  waiting_.progress = progress;
  return announce();
}

void LogQueue::notice_lost() {
  std::lock_guard<std::mutex> lock(mutex_);
  announced_ = false;
}

LogQueue::Batch LogQueue::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  announced_ = false;
  return std::exchange(waiting_, Batch{});
}

}  // namespace sharelink
