#pragma once

// What the job has written for the log box and the newest progress, waiting for
// the main thread. The job never waits for the screen: it adds here and goes on;
// the main thread takes everything at once and shows it in one append.

#include <mutex>
#include <optional>
#include <string>

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
  bool empty() const { return start_ == text_.size(); }
  // The next slice, oldest first; empty once everything was handed out.
  std::string next_slice();
  void clear();

 private:
  std::string text_;  // local text
  std::size_t start_ = 0;
};

}  // namespace sharelink
