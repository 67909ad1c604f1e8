#pragma once

// What both desktop programs set up around their windows: the state a job's
// worker thread uses, the trace file, and the wait for the job at exit.

#include <chrono>
#include <cstdio>

#include "app/app_state.h"
#include "app/desktop/desktop_job_view.h"
#include "app/desktop/job_launcher.h"
#include "app/desktop/log_queue.h"
#include "app/desktop/ui_bridge.h"

namespace sharelink {

// Made once and never freed, on purpose: when the window closes during a
// network call the worker is not joined, and the process ends while it may
// still run; it must never find this memory freed.
struct DesktopSession {
  explicit DesktopSession(UiBridge::Post post) : bridge(std::move(post)) {}
  AppState state;
  UiBridge bridge;
  LogQueue log;
  DesktopJobView view{bridge, log};
  JobLauncher jobs{state, view};
};

// One line per HTTP exchange into trace (UTF-8), written and flushed line by
// line so that lines of different threads stay whole. Never closed: a job's
// worker may still be in a request as the process ends.
void trace_into(std::FILE* trace);

// After the close box, which released every waiting job call: true when every
// job and captcha thread has ended within a second. A job that is still busy
// (a network call) must end with the process, without the exit handlers that
// would destroy what it may still touch.
bool desktop_threads_ended(DesktopSession& session);

}  // namespace sharelink
