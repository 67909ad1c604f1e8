#include "http/http_request.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "http/cookies.h"
#include "http/http_exchange.h"
#include "http/http_message.h"
#include "http/http_transport.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

std::mutex trace_mutex;
// Copied out under the lock, called outside it: a slow sink never holds up
// another thread's install or call.
std::shared_ptr<const TraceSink> trace_sink;

// The extraction code is the share's password: a trace is for reading and
// pasting, so its value never appears there.
std::string masked_url(const std::string& url) {
  const std::size_t query = url.find('?');
  if (query == std::string::npos) return url;
  const std::size_t end = std::min(url.find('#', query), url.size());
  std::string out = url.substr(0, query + 1);
  for (std::size_t at = query + 1; at <= end;) {
    std::size_t next = url.find('&', at);
    if (next == std::string::npos || next > end) next = end;
    const std::string item = url.substr(at, next - at);
    const std::size_t equals = item.find('=');
    if (equals != std::string::npos && ascii_upper(item.substr(0, equals)) == "PWD") {
      out += item.substr(0, equals + 1) + "****";
    } else {
      out += item;
    }
    if (next < end) out += '&';
    at = next + 1;
  }
  return out + url.substr(end);
}

}  // namespace

std::shared_ptr<const TraceSink> current_trace_sink() {
  std::lock_guard<std::mutex> lock(trace_mutex);
  return trace_sink;
}

const char* http_method_name(int method) {
  switch (method) {
    case kHttpPost:
      return "POST";
    case kHttpHead:
      return "HEAD";
    case kHttpPut:
      return "PUT";
    default:
      return "GET";
  }
}

std::string http_failure_text(int number) {
  switch (number) {
    case 700:
      return "700 当前系统不支持WinHttp服务!";
    case 701:
      return "701 解析URL地址失败!";
    case 702:
      return "702 创建WinHttp会话失败!";
    case 703:
      return "703 创建WinHttp连接失败!";
    case 704:
      return "704 创建WinHttp请求失败!";
    case 705:
      return "705 设置超时时间失败!";
    case 707:
      return "707 设置代理凭证失败!";
    case 708:
      return "708 禁止自动设置Cookies失败!";
    case 709:
      return "709 重定向设置失败!";
    case 710:
      return "710 设置协议头失败!";
    case 711:
      return "711 发送请求失败!";
    case 712:
      return "712 服务器未响应!";
    case 713:
      return "713 读取数据失败!";
    case kHttpFailureCancelled:
      return "714 请求已取消!";
    default:
      return std::string();
  }
}

void set_http_trace(std::function<void(const HttpTraceRecord&)> sink) {
  std::shared_ptr<const TraceSink> installed;
  if (sink) installed = std::make_shared<const TraceSink>(std::move(sink));
  std::lock_guard<std::mutex> lock(trace_mutex);
  trace_sink.swap(installed);
}

HttpCause exchange_cause(const Exchange& exchange) {
  if (exchange.failure == 0) return HttpCause::none;
  if (exchange.failure == kHttpFailureCancelled) return HttpCause::cancelled;
  const HttpCause own = own_cause(exchange.reason);
  if (own != HttpCause::none) return own;
  if (exchange.cause != HttpCause::none) return exchange.cause;
  return exchange.failure == 701 ? HttpCause::bad_address : HttpCause::other;
}

// Not what the client refused itself, nor a certificate, which no retry makes
// trusted; nor a request that must not reach the server twice, which may have
// reached it once already.
bool transient_failure(const HttpRequest& request, int failure, HttpCause cause) {
  if (request.send_once) return false;
  switch (cause) {
    case HttpCause::too_big:
    case HttpCause::out_of_memory:
    case HttpCause::redirect:
    case HttpCause::certificate:
      return false;
    default:
      return failure == 703 || failure == 711 || failure == 712 || failure == kHttpFailureBodyRead;
  }
}

// What another origin set never joins the caller's text, which goes to the
// address's origin: a redirect must not plant cookies there.
void merge_home_cookies(std::string& cookies, Exchange& exchange, std::string& set_cookies) {
  for (std::string& received : exchange.home_cookies)
    merge_cookies(cookies, received);
  std::string elsewhere;
  merge_cookies(exchange.final_on_home ? cookies : elsewhere, set_cookies);
}

void send_trace(const TraceSink& sink, const HttpRequest& request, const TraceFacts& facts,
                std::chrono::steady_clock::time_point start) {
  HttpTraceRecord record;
  record.method = http_method_name(request.method);
  record.url = masked_url(request.url);
  record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  record.bytes = facts.bytes;
  record.status = facts.status;
  record.failure = facts.failure;
  if (facts.failure != 0) {
    record.failure_text = http_failure_text(facts.failure);
    record.reason = facts.reason;
  }
  sink(record);
}

namespace {

HttpResponse exchange_response(const HttpRequest& request) {
  std::string block = build_header_block(request.headers, request.cookies.value_or(""));
  Exchange exchange = perform_exchange(request, block);
  const HttpCause cause = exchange_cause(exchange);
  if (cause == HttpCause::out_of_memory) return out_of_memory_answer<HttpResponse>(request);
  HttpResponse response;
  response.cookies = request.cookies;
  response.failure = exchange.failure;
  response.cause = cause;
  response.reason = std::move(exchange.reason);
  response.transient = exchange.failure != 0 && transient_failure(request, exchange.failure, cause);
  response.status_text = http_failure_text(exchange.failure);
  if (exchange.failure != 0 && exchange.failure != kHttpFailureBodyRead) return response;

  // A body that broke off still has its response: the status line replaces 713.
  response.response_headers = std::move(exchange.raw_headers);
  response.status_text = status_from_headers(response.response_headers);
  read_header_lines(response.response_headers, response.set_cookies, response.location);
  if (response.cookies) merge_home_cookies(*response.cookies, exchange, response.set_cookies);
  response.body = std::move(exchange.body);
  response.text = response_text(response.body, response.response_headers);
  return response;
}

void trace(const TraceSink& sink, const HttpRequest& request, const HttpResponse& response,
           std::chrono::steady_clock::time_point start) {
  TraceFacts facts;
  facts.bytes = response.body.size();
  if (!response.response_headers.empty()) facts.status = std::atoi(response.status_text.c_str());
  facts.failure = response.failure;
  facts.reason = response.reason;
  send_trace(sink, request, facts, start);
}

}  // namespace

// Nothing the exchange throws reaches the caller: a reply too big for the
// memory left must fail the call, not end the program. What throws in an
// exchange is growing a text (bad_alloc, or length_error past what a text
// holds).
HttpResponse http_request(const HttpRequest& request) {
  const std::shared_ptr<const TraceSink> sink = current_trace_sink();
  const auto start = std::chrono::steady_clock::now();
  HttpResponse response;
  try {
    response = exchange_response(request);
  } catch (...) {
    response = out_of_memory_answer<HttpResponse>(request);
  }
  if (!sink) return response;
  try {
    trace(*sink, request, response, start);
  } catch (const std::bad_alloc&) {
    // The record is lost; the call's answer is not.
  }
  return response;
}

}  // namespace sharelink
