#pragma once

// How the resolve job, on its worker thread, reaches the windows, which belong to
// the main thread: each request is posted to the main thread's event loop and the
// worker waits until the main thread has carried it out. Requests therefore run
// in the order they were made and none is lost. Closing the bridge releases every
// waiting worker at once, so the program can end while a job still runs.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace sharelink {

class UiBridge;

// One request of a worker. The main thread finishes it, at once or later (a
// prompt window finishes it when it closes).
class UiCall {
 public:
  // Hands result to the waiting worker; later calls do nothing. Main thread.
  void finish(std::string result = {});

 private:
  friend class UiBridge;
  using Task = std::function<void(const std::shared_ptr<UiCall>&)>;
  UiCall(UiBridge& bridge, Task task) : bridge_(bridge), task_(std::move(task)) {}

  UiBridge& bridge_;
  Task task_;
  // Guarded by the bridge's mutex.
  bool done_ = false;
  std::string result_;
};

class UiBridge {
 public:
  using Task = UiCall::Task;
  // Queues handler(data) for the main thread; false when the queue is full. The
  // program passes Fl::awake, tests a queue of their own.
  using Post = std::function<bool(void (*handler)(void*), void* data)>;

  explicit UiBridge(Post post) : post_(std::move(post)) {}
  UiBridge(const UiBridge&) = delete;
  UiBridge& operator=(const UiBridge&) = delete;

  // Worker side. Runs task on the main thread and waits until the call is
  // finished; its result, or nullopt when the bridge closed first (the task then
  // may not have run at all).
  std::optional<std::string> call(Task task);
  // For work that is done when it returns.
  std::optional<std::string> run(std::function<std::string()> work);
  // Queues work for the main thread without waiting for it; false when the
  // bridge is closed or the queue refused it. Work posted before close may not
  // run at all.
  bool notify(std::function<void()> work);

  // Main thread. From now on no task runs and call returns at once; workers
  // waiting now return nullopt.
  void close();
  bool closed() const;

 private:
  friend class UiCall;
  static void deliver(void* data);
  static void deliver_notice(void* data);

  Post post_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
};

}  // namespace sharelink
