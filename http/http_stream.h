#pragma once

// An HTTP exchange whose body goes to the caller as it arrives instead of
// into memory: for files of any size. The request, its header rows, the
// redirects with their origin rules, the cookies and the cancel token behave
// as for http_request; what differs is the body and the time limits.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "http/http_request.h"

namespace sharelink {

// Receives the final response of the chain (never a redirect's): first its
// status and header block (CR LF line ends, the empty line last), then the
// body in pieces, in order. Either may return false to end the exchange at
// once: the call then fails with 713, cause other, and kReasonReceiverStopped
// as its reason (a status the caller has no use for, say, or a disk that is
// full). Both are called on the calling thread and must not throw.
struct HttpStreamSink {
  std::function<bool(long status, const std::string& header_block)> on_headers;
  std::function<bool(const char* data, std::size_t length)> on_body;
};

// Why a stream ended when its receiver ended it.
extern const char* const kReasonReceiverStopped;

struct HttpStreamResponse {
  // 0, or 700-714 as HttpResponse::failure; 713 with a status when the body
  // broke off (or the receiver ended it) after the headers came.
  int failure = 0;
  HttpCause cause = HttpCause::none;
  std::string reason;
  bool transient = false;        // as HttpResponse::transient
  long status = 0;               // the final response's status code; 0 when none came
  std::string status_text;       // "206 Partial Content", or the failure's text
  std::string response_headers;  // as HttpResponse::response_headers
  // The address the final response came from, after every redirect followed:
  // the content host a file's later ranges may go to directly.
  std::string final_url;
  // As HttpResponse::cookies: merged with what the origin of url set.
  std::optional<std::string> cookies;
  std::uint64_t body_bytes = 0;  // body bytes handed to the receiver
};

// request.timeout_seconds (0 or less: 30) bounds name lookup and connecting,
// and each stall: the call fails as timed out (711, transient) once no byte
// has moved for that long. There is no overall deadline and no size cap: a
// slow, steady transfer runs as long as it moves. request.no_redirect,
// send_once, connections, cookies and cancel mean what they mean for
// http_request; the call throws nothing, and the trace sink gets its record.
HttpStreamResponse http_stream(const HttpRequest& request, const HttpStreamSink& sink);

}  // namespace sharelink
