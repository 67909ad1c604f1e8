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

void LogBacklog::add(std::string text) {
  if (empty()) {
    text_ = std::move(text);
    start_ = 0;
  } else {
    text_ += text;
  }
}

std::string LogBacklog::next_slice() {
  constexpr std::size_t kSlice = 16 * 1024;
  std::size_t end = text_.size();
  if (end - start_ > kSlice) {
    const std::size_t line_end = text_.find('\n', start_ + kSlice);
    if (line_end != std::string::npos) end = line_end + 1;
  }
  std::string slice = text_.substr(start_, end - start_);
  start_ = end;
  if (empty()) clear();
  return slice;
}

void LogBacklog::clear() {
  text_.clear();
  start_ = 0;
}

}  // namespace sharelink
