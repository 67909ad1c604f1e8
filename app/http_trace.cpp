#include "app/http_trace.h"

#include <cstdio>

#include "app/service_text.h"
#include "text/text_encoding.h"

namespace sharelink {

std::string trace_line(const HttpTraceRecord& record) {
  std::string line = shown_text(record.method) + " " + shown_link(record.url) + " -> ";
  if (record.failure != 0) {
    // The failure text starts with its own number, which the line gives already.
    std::string text = record.failure_text;
    const std::size_t space = text.find(' ');
    if (space != std::string::npos) text.erase(0, space + 1);
    line += "failure " + std::to_string(record.failure) + " (" + shown_text(text) +
            "): " + shown_text(record.reason);
  } else {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", record.seconds);
    line += std::to_string(record.status) + ", " + std::to_string(record.bytes) + " bytes, " +
            seconds + " s";
  }
  return gbk_to_utf8(line);
}

}  // namespace sharelink
