#pragma once

// Starts resolve jobs on worker threads of their own, one at a time, and lets the
// main thread wait a bounded time for the last one when the program ends.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/app_state.h"
#include "app/job_view.h"

namespace sharelink {

class JobLauncher {
 public:
  // state and view must outlive every job: the program never frees them.
  JobLauncher(AppState& state, JobView& view) : state_(state), view_(view) {}
  JobLauncher(const JobLauncher&) = delete;
  JobLauncher& operator=(const JobLauncher&) = delete;

  // Main thread. Claims the job before the thread exists, so a second press in
  // the moment before the job turns the parse button into 停止 starts nothing. False
  // when a job already runs or no thread could be started.
  bool start();

  // Main thread. True when every job thread has ended (and been joined),
  // waiting at most limit for them.
  bool wait_idle(std::chrono::milliseconds limit);

 private:
  void run_job();

  AppState& state_;
  JobView& view_;
  // The newest job's thread. A job releases its claim while its thread still
  // makes its last call to the window, so each thread joins the one before it
  // and only the newest is left to join.
  std::thread newest_;
  std::mutex mutex_;
  std::condition_variable ended_;
  int threads_ = 0;  // job threads not yet ended
};

}  // namespace sharelink
