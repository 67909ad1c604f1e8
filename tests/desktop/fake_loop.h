#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "app/desktop/ui_bridge.h"

namespace sharelink {

// Stands in for the toolkit's event loop: posted handlers wait in a queue until
// the test thread, playing the main thread, runs them.
class FakeLoop {
 public:
  UiBridge::Post post() {
    return [this](void (*handler)(void*), void* data) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (refusals_ > 0) {
        --refusals_;
        return false;
      }
      queue_.emplace_back(handler, data);
      posted_.notify_all();
      return true;
    };
  }
  // Runs the next posted handler; false when none came within the deadline.
  bool run_one(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!posted_.wait_for(lock, limit, [&] { return !queue_.empty(); })) return false;
    auto [handler, data] = queue_.front();
    queue_.pop_front();
    lock.unlock();
    handler(data);
    return true;
  }
  std::size_t pending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
  }
  bool wait_pending(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return posted_.wait_for(lock, limit, [&] { return !queue_.empty(); });
  }
  void refuse_next(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    refusals_ = count;
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::pair<void (*)(void*), void*>> queue_;
  int refusals_ = 0;
};

}  // namespace sharelink
