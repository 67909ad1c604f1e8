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

}  // namespace sharelink
