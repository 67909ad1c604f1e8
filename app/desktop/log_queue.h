#pragma once

// What the job has written for the log box and the newest progress, waiting for
// the main thread. The job never waits for the screen: it adds here and goes on;
// the main thread takes everything at once and shows it in one append.

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "share/share_client.h"

namespace sharelink {

class LogQueue {
 public:
  struct Batch {
    std::string text;
    std::optional<ResolveProgress> progress;  // the newest, if any came
  };

  // Worker side. Both return true when the main thread has to be told: nothing
  // was waiting, so no notice is on its way.
  bool push(const std::string& text);
  bool set_progress(const ResolveProgress& progress);
  // A notice could not be delivered: the next addition sends one again.
  void notice_lost();

  // Main thread: everything added so far, oldest first.
  Batch take();

 private:
  bool announce();

  std::mutex mutex_;
  Batch waiting_;
  bool announced_ = false;
};

// What the main thread took from the queue and has not yet put into the log
// box. It goes in whole lines at a time, in slices the box takes in a few
// milliseconds each, so that a long report never holds up the window.
class LogBacklog {
 public:
  void add(std::string text);
  bool empty() const { return parts_.empty(); }
  // The next slice, oldest first; empty once everything was handed out.
  std::string next_slice();
  void clear();

 private:
  // Each take apart, oldest first: a report that arrives while an earlier
  // one is still going in is not copied onto its end (with a 56 MB report,
  // two copies of it at once).
  std::deque<std::string> parts_;  // local text
  std::size_t start_ = 0;          // in the first part
};

// Moves what the job queued into a window's log box, on the main thread, the
// same way whatever the toolkit: new lines are taken within kLogInterval, and
// one turn of the event loop spends at most kShowBudget putting text into the
// box, so a big report goes in over several turns and the window answers in
// between. The window supplies the toolkit's side.
class LogPump {
 public:
  static constexpr std::chrono::milliseconds kLogInterval{30};
  static constexpr std::chrono::milliseconds kShowBudget{40};

  struct Hooks {
    std::function<void(const std::string& text)> append;  // into the box
    std::function<void(const ResolveProgress& progress)> show_progress;
    std::function<bool()> job_running;  // progress is shown only then
    // Calls fired() once after delay, from the event loop; false when the
    // toolkit refused.
    std::function<bool(std::chrono::milliseconds delay)> schedule;
  };

  LogPump(LogQueue& log, Hooks hooks) : log_(log), hooks_(std::move(hooks)) {}

  // New lines were queued.
  void arrived();
  // Runs then once every line queued so far is in the box.
  void after_shown(std::function<void()> then);
  // The delay schedule asked for has passed.
  void fired();
  // Forgets what was queued and not yet shown (the box is being emptied); the
  // newest progress still counts.
  void drop();

 private:
  void schedule(std::chrono::milliseconds delay);
  void pump();

  LogQueue& log_;
  Hooks hooks_;
  bool pending_ = false;
  std::chrono::steady_clock::time_point last_take_;
  LogBacklog backlog_;
  std::vector<std::function<void()>> waiting_;  // for the backlog to be shown
};

}  // namespace sharelink
