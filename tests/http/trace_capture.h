#pragma once

// Installs an HTTP trace sink for one test and keeps the records it got.

#include <mutex>
#include <vector>

#include "http/http_request.h"

namespace sharelink::test {

class TraceCapture {
 public:
  TraceCapture() {
    set_http_trace([this](const HttpTraceRecord& record) {
      std::lock_guard<std::mutex> lock(mutex_);
      records_.push_back(record);
    });
  }
  ~TraceCapture() { set_http_trace(nullptr); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<HttpTraceRecord> records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<HttpTraceRecord> records_;
};

}  // namespace sharelink::test
