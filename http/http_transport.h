#pragma once

// The HTTP stack under http_request: the only code that talks to the platform's
// HTTP library (libcurl, or WinHTTP on Windows).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/http_request.h"
#include "http/http_stream.h"
#include "text/local_text.h"

namespace sharelink {

struct Exchange {
  int failure = 0;          // 0, or a failure number 700-713 (713: raw_headers and body are valid)
  std::string raw_headers;  // header block of the final response, CR LF line ends
  Bytes body;
  // For a failure, why: the HTTP library's own message, or ours for the limits
  // we keep.
  std::string reason;
  // For a failure the library reported, its kind; none where reason is one of
  // ours (own_cause says which) or the call never got to the library.
  HttpCause cause = HttpCause::none;
  // With the request's cookies: what the origin of its address set on the
  // redirects of the chain, one text per response in order, and whether the
  // final response came from that origin too. Only those belong to the
  // caller's cookie text; other origins' cookies live and die with the chain.
  std::vector<std::string> home_cookies;
  bool final_on_home = true;
  // For a streamed exchange: the final leg's address, and the body bytes its
  // sink took (body stays empty).
  std::string final_url;
  std::uint64_t body_bytes = 0;
};

// Sends request with header_block (the complete set of request header lines) and
// receives the final response, following redirects unless the request says not
// to. With request.cookies present, header_block's Cookie lines go out as one
// line, last but for the transport's own, joined by the cookies set on the way.
// With a sink, the final response's header block and body go to it as they
// arrive (see follow_redirects).
Exchange perform_exchange(const HttpRequest& request, const std::string& header_block,
                          const HttpStreamSink* sink = nullptr);

// What http_request and http_stream make of an exchange alike.

// The kind of the exchange's failure, none without one.
HttpCause exchange_cause(const Exchange& exchange);
// Whether the same request may succeed later.
bool transient_failure(const HttpRequest& request, int failure, HttpCause cause);
// Merges into cookies (the request's text) what the origin of the request's
// address set: on the redirects, then in the final response (whose Set-Cookie
// values set_cookies holds) when it came from there.
void merge_home_cookies(std::string& cookies, Exchange& exchange, std::string& set_cookies);

using TraceSink = std::function<void(const HttpTraceRecord&)>;
// The sink installed now: a call reports to the one it started with.
std::shared_ptr<const TraceSink> current_trace_sink();
struct TraceFacts {
  int status = 0;
  std::uint64_t bytes = 0;
  int failure = 0;
  std::string reason;
};
void send_trace(const TraceSink& sink, const HttpRequest& request, const TraceFacts& facts,
                std::chrono::steady_clock::time_point start);

}  // namespace sharelink
