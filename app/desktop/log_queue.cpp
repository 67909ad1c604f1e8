#include "app/desktop/log_queue.h"

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
  if (!text.empty()) parts_.push_back(std::move(text));
}

std::string LogBacklog::next_slice() {
  constexpr std::size_t kSlice = 16 * 1024;
  if (parts_.empty()) return {};
  const std::string& text = parts_.front();
  std::size_t end = text.size();
  if (end - start_ > kSlice) {
    const std::size_t line_end = text.find('\n', start_ + kSlice);
    if (line_end != std::string::npos) end = line_end + 1;
  }
  std::string slice = text.substr(start_, end - start_);
  start_ = end;
  if (start_ == text.size()) {
    parts_.pop_front();
    start_ = 0;
  }
  return slice;
}

void LogBacklog::clear() {
  parts_.clear();
  start_ = 0;
}

void LogPump::arrived() {
  if (pending_) return;
  const auto since = std::chrono::steady_clock::now() - last_take_;
  schedule(since >= kLogInterval
               ? std::chrono::milliseconds(0)
               : std::chrono::duration_cast<std::chrono::milliseconds>(kLogInterval - since));
}

void LogPump::after_shown(std::function<void()> then) {
  waiting_.push_back(std::move(then));
  pump();
}

void LogPump::fired() {
  pending_ = false;
  pump();
}

void LogPump::drop() {
  // Lines the job wrote before this go with the rest.
  LogQueue::Batch batch = log_.take();
  if (batch.progress && hooks_.job_running()) hooks_.show_progress(*batch.progress);
  backlog_.clear();
}

void LogPump::schedule(std::chrono::milliseconds delay) {
  if (!pending_) pending_ = hooks_.schedule(delay);
}

void LogPump::pump() {
  const auto start = std::chrono::steady_clock::now();
  last_take_ = start;
  LogQueue::Batch batch = log_.take();
  if (batch.progress && hooks_.job_running()) hooks_.show_progress(*batch.progress);
  backlog_.add(std::move(batch.text));
  while (!backlog_.empty()) {
    hooks_.append(backlog_.next_slice());
    if (std::chrono::steady_clock::now() - start >= kShowBudget) break;
  }
  if (!backlog_.empty()) {
    schedule(std::chrono::milliseconds(0));
    return;
  }
  // What runs here may queue new lines and wait for them in turn.
  std::vector<std::function<void()>> ready;
  ready.swap(waiting_);
  for (auto& then : ready)
    then();
}

}  // namespace sharelink
