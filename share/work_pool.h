#pragma once

// A few threads that do pieces of work for one owner: the owner queues work
// under ids of its own, and takes each piece's end either by id, in the order
// it needs them, or as they come. The results themselves stay with the owner:
// a piece of work writes into what its closure holds and says how many bytes
// it leaves there until the owner takes it.
//
// Bounds: no more threads than asked for; no new piece starts while the
// results waiting to be taken hold the byte budget or more, so that a thread
// far ahead of its owner waits instead of piling up replies. What the pieces
// under way hold counts too, as far as the owner can tell (expect): big
// pieces go fewer at a time. The budget only paces: one piece may always
// run, a piece under way always finishes, and the owner never waits on a
// queue, so nothing ever fails for it.
//
// One cancel token for every request the pool's work sends: cancel() ends
// them at once, ends the waits of WorkScope::wait and drops the work not yet
// started. No exception leaves a piece of work: it becomes the end of that
// piece (WorkEnd::out_of_memory for std::bad_alloc).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/http_request.h"

namespace sharelink {

enum class WorkEnd {
  done,           // ran to its end
  out_of_memory,  // threw std::bad_alloc or std::length_error
  failed,         // threw anything else
  dropped,        // the pool was cancelled before it started
};

class WorkPool;

// What a piece of work is handed: the pool's cancel token for its requests, a
// wait that the cancel ends, and a way to pass lines to the owner in order.
class WorkScope {
 public:
  explicit WorkScope(WorkPool& pool) : pool_(pool) {}
  const std::shared_ptr<HttpCancel>& cancel() const;
  bool cancelled() const;
  // Waits, unless the pool is cancelled first; false when it was.
  bool wait(int milliseconds) const;
  // For the owner's next(), before the end of any work that finishes later.
  void post(std::string line) const;

 private:
  WorkPool& pool_;
};

class WorkPool {
 public:
  // Returns the bytes of what the work leaves for its owner to take.
  using Work = std::function<std::size_t(const WorkScope&)>;

  // threads: at most this many pieces run at once. Fewer start when the
  // system has no more to give, none for 0: the owner then runs the work
  // itself, one piece at a time, in take() and next().
  WorkPool(int threads, std::size_t waiting_budget);
  // Cancels, and waits for the threads.
  ~WorkPool();
  WorkPool(const WorkPool&) = delete;
  WorkPool& operator=(const WorkPool&) = delete;

  int threads() const { return static_cast<int>(threads_.size()); }

  // Queues work under an id that no piece not yet taken has.
  void submit(std::size_t id, Work work);
  // Takes back work that has not started: true, and the owner does it itself.
  bool claim(std::size_t id);
  // Waits for the piece's end and takes it; dropped for an id not queued.
  WorkEnd take(std::size_t id);

  // The next line posted or, without one, the next piece that ended (taken).
  struct Event {
    bool is_line = false;
    std::string line;
    std::size_t id = 0;
    WorkEnd end = WorkEnd::done;
  };
  // Waits for one; false when no line is left and no piece is outstanding.
  bool next(Event& event);

  // Any thread: each piece may hold about this many bytes while it runs (the
  // largest reply seen so far, say). Only ever raised.
  void expect(std::size_t bytes_each);

  // Any thread, any number of times.
  void cancel();
  bool cancelled() const;

 private:
  friend class WorkScope;
  enum class State { queued, running, ended };
  struct Item {
    Work work;
    State state = State::queued;
    WorkEnd end = WorkEnd::done;
    std::size_t bytes = 0;
    std::uint64_t ended_as = 0;  // order of ending
  };
  using Items = std::map<std::size_t, Item>;

  void serve();
  // Runs the item's work with the lock released and records its end.
  void run(std::unique_lock<std::mutex>& lock, Item& item);
  bool may_start() const;
  void end(Item& item, WorkEnd how, std::size_t bytes);
  WorkEnd forget(Items::iterator item);
  bool wait_unless_cancelled(int milliseconds);

  const std::size_t waiting_budget_;
  const std::shared_ptr<HttpCancel> token_ = std::make_shared<HttpCancel>();
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Items items_;
  std::deque<std::size_t> queue_;
  std::deque<std::string> lines_;
  std::size_t waiting_bytes_ = 0;
  std::size_t expected_bytes_ = 0;
  std::size_t running_ = 0;
  std::uint64_t endings_ = 0;
  bool cancelled_ = false;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace sharelink
