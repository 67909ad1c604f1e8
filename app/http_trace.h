#pragma once

// The one-line account of an HTTP exchange that both front ends show when asked
// to (sharelink-cli --verbose, the window's SHARELINK_TRACE file), so that a
// user whose job failed can see which request failed and why.

#include <string>

#include "http/http_request.h"

namespace sharelink {

// "METHOD URL -> STATUS, N bytes, T.TTT s", or for a failure
// "METHOD URL -> failure NNN (failure text): reason"; UTF-8, without a line
// end. The address and the reason come from the network: control characters
// in them are made harmless, so the line stays one line.
std::string trace_line(const HttpTraceRecord& record);

}  // namespace sharelink
