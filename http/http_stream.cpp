#include "http/http_stream.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "http/http_exchange.h"
#include "http/http_message.h"
#include "http/http_transport.h"

namespace sharelink {

namespace {

// A stall has no phase of its own here: waiting for the headers or amid the
// body, no byte came in time, and the same range may come later.
int stream_failure(const Exchange& exchange, HttpCause cause) {
  if (cause == HttpCause::timed_out && exchange.reason != kReasonDeadline) return 711;
  return exchange.failure;
}

HttpStreamResponse stream_response(const HttpRequest& request, const HttpStreamSink& sink) {
  std::string block = build_header_block(request.headers, request.cookies.value_or(""));
  Exchange exchange = perform_exchange(request, block, &sink);
  HttpStreamResponse response;
  response.cookies = request.cookies;
  response.cause = exchange_cause(exchange);
  response.failure = stream_failure(exchange, response.cause);
  response.reason = std::move(exchange.reason);
  // The receiver chose to stop: the same request would be stopped again.
  response.transient = response.failure != 0 && response.reason != kReasonReceiverStopped &&
                       transient_failure(request, response.failure, response.cause);
  response.status_text = http_failure_text(response.failure);
  response.body_bytes = exchange.body_bytes;
  if (exchange.raw_headers.empty()) return response;

  response.response_headers = std::move(exchange.raw_headers);
  if (response.failure == 0 || response.failure == kHttpFailureBodyRead) {
    response.status_text = status_from_headers(response.response_headers);
  }
  response.status = std::atol(status_from_headers(response.response_headers).c_str());
  response.final_url = std::move(exchange.final_url);
  std::string set_cookies;
  std::string location;
  read_header_lines(response.response_headers, set_cookies, location);
  if (response.cookies) merge_home_cookies(*response.cookies, exchange, set_cookies);
  return response;
}

}  // namespace

HttpStreamResponse http_stream(const HttpRequest& request, const HttpStreamSink& sink) {
  const std::shared_ptr<const TraceSink> trace = current_trace_sink();
  const auto start = std::chrono::steady_clock::now();
  HttpStreamResponse response;
  try {
    response = stream_response(request, sink);
  } catch (...) {
    response = out_of_memory_answer<HttpStreamResponse>(request);
  }
  if (!trace) return response;
  try {
    TraceFacts facts{static_cast<int>(response.status), response.body_bytes, response.failure,
                     response.reason};
    send_trace(*trace, request, facts, start);
  } catch (const std::bad_alloc&) {
    // The record is lost; the call's answer is not.
  }
  return response;
}

}  // namespace sharelink
