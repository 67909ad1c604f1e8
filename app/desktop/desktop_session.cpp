#include "app/desktop/desktop_session.h"

#include <string>

#include "app/desktop/captcha_load.h"
#include "app/http_trace.h"
#include "http/http_request.h"

namespace sharelink {

namespace {

// Long enough for a job that only had to give up at a prompt, short enough
// that a stalled network call does not keep a closed window's process alive.
constexpr std::chrono::milliseconds kJobStopGrace{1000};

}  // namespace

void trace_into(std::FILE* trace) {
  set_http_trace([trace](const HttpTraceRecord& record) {
    const std::string line = trace_line(record) + "\n";
    std::fwrite(line.data(), 1, line.size(), trace);
    std::fflush(trace);
  });
}

bool desktop_threads_ended(DesktopSession& session) {
  return session.jobs.wait_idle(kJobStopGrace) && captcha_loads_idle(kJobStopGrace);
}

}  // namespace sharelink
