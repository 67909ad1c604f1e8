#include "share/work_pool.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace sharelink {

const std::shared_ptr<HttpCancel>& WorkScope::cancel() const {
  return pool_.token_;
}

bool WorkScope::cancelled() const {
  return pool_.cancelled();
}

bool WorkScope::wait(int milliseconds) const {
  return pool_.wait_unless_cancelled(milliseconds);
}

void WorkScope::post(std::string line) const {
  std::lock_guard<std::mutex> lock(pool_.mutex_);
  pool_.lines_.push_back(std::move(line));
  pool_.changed_.notify_all();
}

WorkPool::WorkPool(int threads, std::size_t waiting_budget) : waiting_budget_(waiting_budget) {
  threads_.reserve(static_cast<std::size_t>(std::max(threads, 0)));
  try {
    for (int i = 0; i < threads; ++i)
      threads_.emplace_back([this] { serve(); });
  } catch (const std::system_error&) {
    // Fewer threads; with none the owner does the work.
  }
}

WorkPool::~WorkPool() {
  cancel();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_)
    thread.join();
}

void WorkPool::submit(std::size_t id, Work work) {
  std::lock_guard<std::mutex> lock(mutex_);
  Item& item = items_[id];
  item.work = std::move(work);
  if (cancelled_) {
    end(item, WorkEnd::dropped, 0);
    return;
  }
  // An item left out of the queue by a failed push is still run by take.
  queue_.push_back(id);
  changed_.notify_all();
}

WorkEnd WorkPool::take(std::size_t id) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto found = items_.find(id);
  if (found == items_.end()) return WorkEnd::dropped;
  if (found->second.state == State::queued) {
    const auto queued = std::find(queue_.begin(), queue_.end(), id);
    if (queued != queue_.end()) queue_.erase(queued);
    run(lock, found->second);
  }
  changed_.wait(lock, [&] { return found->second.state == State::ended; });
  return forget(found);
}

bool WorkPool::next(Event& event) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!lines_.empty()) {
      event.is_line = true;
      event.line = std::move(lines_.front());
      lines_.pop_front();
      return true;
    }
    auto first = items_.end();
    for (auto at = items_.begin(); at != items_.end(); ++at) {
      if (at->second.state != State::ended) continue;
      if (first == items_.end() || at->second.ended_as < first->second.ended_as) first = at;
    }
    if (first != items_.end()) {
      event.is_line = false;
      event.id = first->first;
      event.end = forget(first);
      return true;
    }
    if (items_.empty()) return false;
    if (threads_.empty() && !queue_.empty()) {
      const std::size_t id = queue_.front();
      queue_.pop_front();
      run(lock, items_.find(id)->second);
      continue;
    }
    changed_.wait(lock);
  }
}

void WorkPool::cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  token_->cancel();
  for (const std::size_t id : queue_)
    end(items_.find(id)->second, WorkEnd::dropped, 0);
  queue_.clear();
  changed_.notify_all();
}

bool WorkPool::cancelled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancelled_;
}

void WorkPool::serve() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return closing_ || may_start(); });
    if (closing_) return;
    const std::size_t id = queue_.front();
    queue_.pop_front();
    run(lock, items_.find(id)->second);
  }
}

void WorkPool::run(std::unique_lock<std::mutex>& lock, Item& item) {
  item.state = State::running;
  ++running_;
  Work work = std::move(item.work);
  lock.unlock();
  WorkEnd how = WorkEnd::done;
  std::size_t bytes = 0;
  // Nothing may unwind out of a thread (that ends the program) or through
  // the owner's bookkeeping: any exception is this piece's end.
  try {
    bytes = work(WorkScope(*this));
  } catch (const std::bad_alloc&) {
    how = WorkEnd::out_of_memory;
  } catch (const std::length_error&) {
    how = WorkEnd::out_of_memory;
  } catch (...) {
    how = WorkEnd::failed;
  }
  work = nullptr;
  lock.lock();
  --running_;
  end(item, how, how == WorkEnd::done ? bytes : 0);
}

bool WorkPool::may_start() const {
  if (queue_.empty() || waiting_bytes_ >= waiting_budget_) return false;
  if (running_ == 0) return true;
  const std::size_t left = waiting_budget_ - waiting_bytes_;
  return expected_bytes_ == 0 || left / expected_bytes_ > running_;
}

void WorkPool::expect(std::size_t bytes_each) {
  std::lock_guard<std::mutex> lock(mutex_);
  expected_bytes_ = std::max(expected_bytes_, bytes_each);
}

void WorkPool::end(Item& item, WorkEnd how, std::size_t bytes) {
  item.state = State::ended;
  item.end = how;
  item.bytes = bytes;
  item.ended_as = ++endings_;
  waiting_bytes_ += bytes;
  changed_.notify_all();
}

WorkEnd WorkPool::forget(Items::iterator item) {
  const WorkEnd how = item->second.end;
  waiting_bytes_ -= item->second.bytes;
  items_.erase(item);
  // Room in the budget: a thread may start the next piece.
  changed_.notify_all();
  return how;
}

bool WorkPool::wait_unless_cancelled(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(std::max(milliseconds, 0)),
                            [this] { return cancelled_; });
}

}  // namespace sharelink
