#include "http/http_transport.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include "http/cookies.h"
#include "http/http_message.h"
#include "http/local_text.h"

// How libcurl's results become failure numbers:
//
//   700  curl_global_init failed (tried once per process; every call reports it)
//   701  curl_url cannot parse the address, or its scheme is not http or https
//   702  curl_easy_init gave no handle, or the proxy options were rejected
//   703  the address, the allowed-protocol or the certificate-check options
//        were rejected
//   704  the method, body, callback or protocol-version options were rejected
//   705  a timeout option was rejected
//   707  the server or the proxy credential options were rejected
//   709  the redirect option was rejected
//   710  a header line is malformed (no name and colon, stray CR or LF), or the
//        header list was rejected
//   711  a request did not go out on a connection: unknown host, refused or
//        timed-out connect, TLS failure (a certificate that is untrusted,
//        expired or for another host among them), failed proxy tunnel, a
//        redirect to an address that cannot be parsed or is not http or https;
//        also CURLE_SEND_ERROR
//   712  the request went out but no final response's header block came back:
//        timeout, connection closed, malformed or oversized reply, too many
//        redirects
//   713  the final response's header block arrived and then the body broke off
//        (connection closed early, stalled or too slow past the limits below,
//        receive error) or passed kBodyLimit; the headers and the bytes so far
//        are kept
//   A proxy that refuses the CONNECT tunnel of an https address (407 and the
//   like) is no failure: its reply is returned, as for a plain http address.
//
// Time limits, from the request's timeout T: resolving and connecting get T;
// a stall of T (nothing sent or received) ends the transfer; so does moving
// fewer than T bytes in any period of T once the request is going out (less
// than a byte a second: a drip that never stalls); and the whole call,
// redirects included, gets 10 T. Each ends it as a receive timeout would, with
// the number of the phase it ended in.
//
// Redirects are followed here, not by libcurl, one curl_easy_perform per leg,
// so that the origin compared is the one of the address actually requested:
// libcurl works out the target (CURLINFO_REDIRECT_URL), the same parsed address
// is compared and handed back to it. The caller's cookies, Authorization and
// Host lines and credentials go only to the address's origin; a leg that would
// carry the request body to another origin is not taken: the redirect response
// is the answer. Cookies set during the chain go along to the origin that set
// them, merged into that origin's cookie text of this call.
//
// https is checked as libcurl does by default, made explicit here: the
// certificate chain against the trusted CAs and the host name against the
// certificate, on every leg; a failed check ends the call, and the address is
// never tried over http instead. Debian's libcurl does not read SSL_CERT_FILE
// and SSL_CERT_DIR as OpenSSL's own tools do, so they are read here, once, and
// handed over as CURLOPT_CAINFO and CURLOPT_CAPATH.
//
// A connection pool is a libcurl share of the connection cache and the TLS
// sessions, nothing else: cookies stay with each call. libcurl does not support
// one connection cache used by transfers on several threads at once, so a call
// holds the pool for its whole life, easy handle cleanup included, and a call
// that finds it held goes without. Without a pool the easy handle's own cache
// carries a connection from leg to leg. libcurl itself keeps proxied and direct
// connections apart, checks a cached connection is still open before reusing
// it, retries on a fresh one when a reused connection dies before any reply
// byte, and closes the connection of every transfer that ends early (aborted by
// a callback, body cut short), so none of those is handed to the next call.

namespace sharelink {
namespace {

constexpr std::size_t kBodyLimit = std::size_t{64} << 20;
// libcurl before 8.3 (Debian's 7.88 has the fix backported) bounds each header
// line but not their number: a reply sending lines without end would grow the
// block until the deadline.
constexpr std::size_t kHeaderBlockLimit = std::size_t{1} << 20;
// As many as later libcurl releases follow by default; a redirect loop ends.
constexpr int kMaxRedirects = 30;
// The whole call gets this many times the request's timeout.
constexpr int kDeadlineFactor = 10;

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

bool curl_ready() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

std::mutex ca_mutex;
std::optional<HttpCaLocations> ca_locations;  // guarded by ca_mutex; read once

std::string environment_value(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

HttpCaLocations current_ca_locations() {
  std::lock_guard<std::mutex> lock(ca_mutex);
  if (!ca_locations) {
    ca_locations =
        HttpCaLocations{environment_value("SSL_CERT_FILE"), environment_value("SSL_CERT_DIR")};
  }
  return *ca_locations;
}

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

struct Origin {
  std::string scheme;
  std::string host;
  std::string port;
  bool operator==(const Origin& other) const {
    return scheme == other.scheme && lower(host) == lower(other.host) && port == other.port;
  }
};

// A parsed address: the handle is what libcurl requests, the origin is read
// from that same handle.
struct Target {
  UrlHandle url;
  Origin origin;
};

std::string url_part(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) return {};
  std::string copy(text);
  curl_free(text);
  return copy;
}

std::optional<Target> target_of(UrlHandle url) {
  Target target;
  target.origin = {lower(url_part(url.get(), CURLUPART_SCHEME)),
                   url_part(url.get(), CURLUPART_HOST),
                   url_part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT)};
  const std::string& scheme = target.origin.scheme;
  if (url_part(url.get(), CURLUPART_URL).empty() || (scheme != "http" && scheme != "https")) {
    return std::nullopt;
  }
  target.url = std::move(url);
  return target;
}

std::optional<Target> split_address(const std::string& address) {
  UrlHandle url(curl_url());
  if (!url) return std::nullopt;
  if (curl_url_set(url.get(), CURLUPART_URL, escape_address(address).c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  if (has_empty_path(address) &&
      curl_url_set(url.get(), CURLUPART_QUERY, nullptr, 0) != CURLUE_OK) {
    return std::nullopt;
  }
  return target_of(std::move(url));
}

// libcurl works out a redirect's target without the escaping its own following
// applies; these are the flags it follows with.
std::optional<Target> redirect_target(const char* address) {
  UrlHandle url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, address,
                           CURLU_URLENCODE | CURLU_ALLOW_SPACE) != CURLUE_OK) {
    return std::nullopt;
  }
  return target_of(std::move(url));
}

// What the callbacks see and fill during one curl_easy_perform, and the limits
// that hold across the call's performs.
struct Capture {
  std::string block;  // the current response's header block
  long status = 0;
  bool sent = false;  // a request went out on the current connection
  bool final_headers = false;
  bool capped = false;
  // Which of our own limits or checks ended the transfer, for the trace; null
  // when libcurl's message says it.
  const char* ended_by = nullptr;
  Bytes body;

  std::chrono::seconds stall_limit{30};
  std::chrono::steady_clock::time_point last_progress;
  curl_off_t uploaded = 0;
  // The low-speed floor: bytes moved since the current period began.
  std::chrono::steady_clock::time_point period_start;
  std::uint64_t period_bytes = 0;

  void start_transfer() {
    block.clear();
    body.clear();
    sent = final_headers = capped = false;
    ended_by = nullptr;
    status = 0;
    uploaded = 0;
    start_period();
  }
  // Resolving and connecting have their own limit; the floor counts from the
  // moment there is something to move.
  void start_period() {
    moved(0);
    period_start = last_progress;
    period_bytes = 0;
  }
  void moved(std::size_t bytes) {
    last_progress = std::chrono::steady_clock::now();
    period_bytes += bytes;
  }
};

void start_block(Capture& capture, const std::string& status_line) {
  capture.block.clear();
  capture.final_headers = false;
  std::size_t space = status_line.find(' ');
  capture.status = space == std::string::npos ? 0 : std::atol(status_line.c_str() + space + 1);
}

void end_block(Capture& capture) {
  capture.block += "\r\n";
  if (capture.status < 200) return;  // an interim reply: the real one follows
  // Before a request went out this is the proxy's reply to CONNECT: 2xx opens
  // the tunnel, anything else is the answer.
  capture.final_headers = capture.sent || capture.status >= 300;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
  auto& capture = *static_cast<Capture*>(user);
  std::size_t length = size * count;
  capture.moved(length);
  std::string line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  bool status_line = line.compare(0, 5, "HTTP/") == 0;
  if (status_line) start_block(capture, line);
  if (capture.final_headers && !status_line) return length;  // trailers of a chunked body
  if (line.empty()) {
    end_block(capture);
    return length;
  }
  if (capture.block.size() + line.size() + 2 > kHeaderBlockLimit) {
    capture.ended_by = "the header block passed its limit of 1 MiB";
    return 0;
  }
  capture.block += line;
  capture.block += "\r\n";
  return length;
}

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto& capture = *static_cast<Capture*>(user);
  std::size_t length = size * count;
  capture.moved(length);
  if (capture.body.size() + length > kBodyLimit) {
    capture.body.append(data, kBodyLimit - capture.body.size());
    capture.capped = true;
    capture.ended_by = "the body passed its limit of 64 MiB";
    return 0;
  }
  capture.body.append(data, length);
  return length;
}

int on_connected(void* user, char*, char*, int, int) {
  auto& capture = *static_cast<Capture*>(user);
  capture.sent = true;
  capture.final_headers = false;
  capture.start_period();
  return CURL_PREREQFUNC_OK;
}

// Ends the transfer once nothing moved for the limit (libcurl's low-speed check
// averages over several seconds and lets a stall after a few bytes run on), or
// when a whole period of that length moved less than a byte a second.
int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
  auto& capture = *static_cast<Capture*>(user);
  if (uploaded != capture.uploaded) {
    capture.moved(
        static_cast<std::size_t>(uploaded > capture.uploaded ? uploaded - capture.uploaded : 0));
    capture.uploaded = uploaded;
  }
  auto now = std::chrono::steady_clock::now();
  if (now - capture.last_progress >= capture.stall_limit) {
    capture.ended_by = "timed out: nothing sent or received for the request's timeout";
    return 1;
  }
  const auto period = now - capture.period_start;
  if (capture.sent && period >= capture.stall_limit) {
    // The period is as long as it really was: this call may come a second
    // late, and a period stretched by that must not let a slower server pass.
    const auto floor = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(period).count());
    if (capture.period_bytes * 1000 < floor) {
      capture.ended_by = "timed out: less than a byte a second over the request's timeout";
      return 1;
    }
    capture.period_start = now;
    capture.period_bytes = 0;
  }
  return 0;
}

template <typename T>
bool set(CURL* easy, CURLoption option, T value) {
  return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

long timeout_of(const HttpRequest& request) {
  return request.timeout_seconds > 0 ? request.timeout_seconds : 30;
}

// Options that hold for the whole call; returns a failure number or 0.
int configure_session(CURL* easy, const HttpRequest& request, const HttpCaLocations& cas,
                      Capture& capture) {
  // An empty proxy name also keeps libcurl from taking one from the environment.
  if (!set(easy, CURLOPT_PROXY, request.proxy.c_str()) || !set(easy, CURLOPT_NOPROXY, "") ||
      !set(easy, CURLOPT_PROXYTYPE, long{CURLPROXY_HTTP})) {
    return 702;
  }
  if (!set(easy, CURLOPT_PROTOCOLS_STR, "http,https") ||
      !set(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") ||
      !set(easy, CURLOPT_SSL_VERIFYPEER, 1L) || !set(easy, CURLOPT_SSL_VERIFYHOST, 2L) ||
      (!cas.file.empty() && !set(easy, CURLOPT_CAINFO, cas.file.c_str())) ||
      (!cas.folder.empty() && !set(easy, CURLOPT_CAPATH, cas.folder.c_str()))) {
    return 703;
  }
  curl_write_callback header_function = on_header;
  curl_write_callback write_function = on_body;
  curl_prereq_callback prereq_function = on_connected;
  curl_xferinfo_callback progress_function = on_progress;
  if (!set(easy, CURLOPT_NOSIGNAL, 1L) ||
      !set(easy, CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_1_1}) ||
      !set(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L) ||
      !set(easy, CURLOPT_HEADERFUNCTION, header_function) ||
      !set(easy, CURLOPT_HEADERDATA, &capture) ||
      !set(easy, CURLOPT_WRITEFUNCTION, write_function) ||
      !set(easy, CURLOPT_WRITEDATA, &capture) ||
      !set(easy, CURLOPT_PREREQFUNCTION, prereq_function) ||
      !set(easy, CURLOPT_PREREQDATA, &capture)) {
    return 704;
  }
  long seconds = timeout_of(request);
  capture.stall_limit = std::chrono::seconds(seconds);
  if (!set(easy, CURLOPT_CONNECTTIMEOUT, seconds) || !set(easy, CURLOPT_NOPROGRESS, 0L) ||
      !set(easy, CURLOPT_XFERINFOFUNCTION, progress_function) ||
      !set(easy, CURLOPT_XFERINFODATA, &capture)) {
    return 705;
  }
  if (!request.proxy_user.empty() && !request.proxy_password.empty() &&
      (!set(easy, CURLOPT_PROXYUSERNAME, request.proxy_user.c_str()) ||
       !set(easy, CURLOPT_PROXYPASSWORD, request.proxy_password.c_str()) ||
       !set(easy, CURLOPT_PROXYAUTH, CURLAUTH_BASIC))) {
    return 707;
  }
  if (!set(easy, CURLOPT_FOLLOWLOCATION, 0L)) return 709;
  return 0;
}

// One curl_easy_perform: the request itself, or one redirect after it.
struct Leg {
  Target target;
  int method = kHttpGet;
  bool with_body = true;
};

bool carries_body(const HttpRequest& request, const Leg& leg) {
  return leg.with_body && leg.method != kHttpHead &&
         (leg.method != kHttpGet || !request.post_data.empty());
}

int configure_leg(CURL* easy, const HttpRequest& request, const Leg& leg, bool on_origin,
                  const curl_slist* headers, std::chrono::milliseconds left) {
  if (!set(easy, CURLOPT_CURLU, leg.target.url.get())) return 703;
  const std::string& data = request.post_data;
  bool body = carries_body(request, leg);
  const char* verb = leg.method == kHttpPut           ? "PUT"
                     : body && leg.method == kHttpGet ? "GET"
                                                      : nullptr;
  bool ok = set(easy, CURLOPT_HTTPGET, 1L) &&
            set(easy, CURLOPT_NOBODY, leg.method == kHttpHead ? 1L : 0L) &&
            set(easy, CURLOPT_CUSTOMREQUEST, verb);
  if (ok && body) {
    ok = set(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(data.size())) &&
         set(easy, CURLOPT_COPYPOSTFIELDS, data.c_str());
  }
  if (!ok) return 704;
  if (!set(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<std::int64_t>(1, left.count())))) {
    return 705;
  }
  bool credentials = on_origin && !request.user.empty() && !request.password.empty();
  if (!set(easy, CURLOPT_USERNAME, credentials ? request.user.c_str() : nullptr) ||
      !set(easy, CURLOPT_PASSWORD, credentials ? request.password.c_str() : nullptr) ||
      !set(easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC)) {
    return 707;
  }
  if (!set(easy, CURLOPT_HTTPHEADER, headers)) return 710;
  return 0;
}

bool make_header_list(const std::vector<std::string>& lines, HeaderList& list) {
  list.reset();
  for (const std::string& line : lines) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) return false;
    // curl_slist_append returns the same head it was given, or a new list.
    static_cast<void>(list.release());
    list.reset(grown);
  }
  return true;
}

// The cookie text of each origin the chain visits: the caller's for the
// address's origin, what each other origin set for itself.
class ChainCookies {
 public:
  std::string& of(const Origin& origin) {
    for (auto& [owner, text] : texts_) {
      if (owner == origin) return text;
    }
    texts_.emplace_back(origin, std::string());
    return texts_.back().second;
  }

  // Merges the cookies that a response of origin set.
  void take(const Origin& origin, const std::string& header_block) {
    std::string block = header_block;
    std::string received;
    std::string location;
    read_header_lines(block, received, location);
    if (!received.empty()) merge_cookies(of(origin), received);
  }

 private:
  std::vector<std::pair<Origin, std::string>> texts_;
};

// The leg after a redirect response of leg, with the usual method rules:
// 303 turns all but HEAD into a GET without body, 301 and 302 turn a POST into
// one; the rest keep method and body. A failure number when the target cannot
// be requested.
int next_leg(const Capture& capture, const char* location, Leg& leg) {
  std::optional<Target> target = redirect_target(location);
  if (!target) return 711;
  bool to_get = (capture.status == 303 && leg.method != kHttpHead) ||
                ((capture.status == 301 || capture.status == 302) && leg.method == kHttpPost);
  leg.target = std::move(*target);
  leg.method = to_get ? kHttpGet : leg.method;
  leg.with_body = leg.with_body && !to_get;
  return 0;
}

int classify(CURLcode result, const Capture& capture) {
  if (result == CURLE_OK) return 0;
  if (capture.capped) return kHttpFailureBodyRead;
  if (capture.final_headers) return capture.sent ? kHttpFailureBodyRead : 0;
  if (!capture.sent || result == CURLE_SEND_ERROR) return 711;
  return 712;
}

Exchange failed(int number) {
  Exchange exchange;
  exchange.failure = number;
  return exchange;
}

// Why a perform that classify() made a failure ended.
std::string failure_reason(CURLcode result, const Capture& capture, const char* error_buffer,
                           bool past_deadline) {
  if (capture.ended_by != nullptr) return capture.ended_by;
  // libcurl reports the whole call's limit as a plain timeout of its own.
  if (result == CURLE_OPERATION_TIMEDOUT && past_deadline) {
    return "timed out: the exchange passed its limit of ten times the request's timeout";
  }
  if (error_buffer[0] != '\0') return error_buffer;
  return curl_easy_strerror(result);
}

// Our words for the failures that end a call before libcurl says anything.
std::string setup_reason(int number) {
  switch (number) {
    case 700:
      return "libcurl could not be set up";
    case 701:
      return "the address cannot be parsed or is not http or https";
    case 710:
      return "a request header line is malformed, or libcurl rejected the header list";
    default:
      return "libcurl rejected an option of the request";
  }
}

}  // namespace

class HttpConnectionPool {
 public:
  HttpConnectionPool();
  ~HttpConnectionPool();
  HttpConnectionPool(const HttpConnectionPool&) = delete;
  HttpConnectionPool& operator=(const HttpConnectionPool&) = delete;

  // Owns the lock while the pool is free for the calling thread's call.
  std::unique_lock<std::mutex> claim() {
    return std::unique_lock<std::mutex>(in_use_, std::try_to_lock);
  }
  CURLSH* share() const { return share_; }

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* user);
  static void unlock(CURL*, curl_lock_data data, void* user);

  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
  std::mutex in_use_;
  CURLSH* share_ = nullptr;  // null when libcurl gave none: calls go without
};

HttpConnectionPool::HttpConnectionPool() {
  if (!curl_ready()) return;
  CURLSH* share = curl_share_init();
  if (share == nullptr) return;
  curl_lock_function lock_function = lock;
  curl_unlock_function unlock_function = unlock;
  if (curl_share_setopt(share, CURLSHOPT_USERDATA, this) != CURLSHE_OK ||
      curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lock_function) != CURLSHE_OK ||
      curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlock_function) != CURLSHE_OK ||
      curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) != CURLSHE_OK ||
      curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK) {
    curl_share_cleanup(share);
    return;
  }
  share_ = share;
}

// No call holds the pool any more (each holds a pointer to it), so no easy
// handle is attached; cleaning up closes the cached connections.
HttpConnectionPool::~HttpConnectionPool() {
  if (share_ != nullptr) curl_share_cleanup(share_);
}

void HttpConnectionPool::lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  auto& pool = *static_cast<HttpConnectionPool*>(user);
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) pool.locks_[data].lock();
}

void HttpConnectionPool::unlock(CURL*, curl_lock_data data, void* user) {
  auto& pool = *static_cast<HttpConnectionPool*>(user);
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) pool.locks_[data].unlock();
}

std::shared_ptr<HttpConnectionPool> make_connection_pool() {
  return std::make_shared<HttpConnectionPool>();
}

namespace {

Exchange perform_exchange_legs(const HttpRequest& request, const std::string& header_block,
                               std::string& reason) {
  if (!curl_ready()) return failed(700);
  std::optional<Target> address = split_address(request.url);
  if (!address) return failed(701);
  const Origin home = address->origin;
  // Declared before the easy handle: the handle leaves the pool before the
  // claim on it ends and before the pool can go.
  std::shared_ptr<HttpConnectionPool> pool = request.connections;
  std::unique_lock<std::mutex> claim;
  if (pool && pool->share() != nullptr) claim = pool->claim();
  // Outlives the easy handle that writes into it.
  std::array<char, CURL_ERROR_SIZE> error_buffer{};
  EasyHandle easy(curl_easy_init());
  if (!easy) return failed(702);
  if (claim.owns_lock() && !set(easy.get(), CURLOPT_SHARE, pool->share())) return failed(702);
  Capture capture;
  if (int failure = configure_session(easy.get(), request, current_ca_locations(), capture)) {
    return failed(failure);
  }
  if (!set(easy.get(), CURLOPT_ERRORBUFFER, error_buffer.data())) return failed(704);

  const bool own_cookies = request.cookies.has_value();
  OutgoingHeaders headers = split_header_block(header_block, own_cookies);
  if (!headers.valid) return failed(710);
  ChainCookies cookies;
  if (own_cookies) cookies.of(home) = headers.cookie;

  const auto deadline = std::chrono::steady_clock::now() +
                        kDeadlineFactor * std::chrono::seconds(timeout_of(request));
  bool known_method = request.method >= kHttpGet && request.method <= kHttpPut;
  Leg leg{std::move(*address), known_method ? request.method : kHttpGet, true};
  HeaderList list;
  CURLcode result = CURLE_OK;
  for (int redirects = 0;; ++redirects) {
    bool on_origin = leg.target.origin == home;
    std::string cookie = own_cookies ? cookies.of(leg.target.origin) : std::string();
    if (!make_header_list(lines_for_leg(headers, on_origin, cookie), list)) return failed(710);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (int failure = configure_leg(easy.get(), request, leg, on_origin, list.get(), left)) {
      return failed(failure);
    }
    capture.start_transfer();
    result = curl_easy_perform(easy.get());
    if (request.no_redirect || result != CURLE_OK || capture.status < 300 || capture.status > 399) {
      break;
    }
    char* location = nullptr;
    if (curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_URL, &location) != CURLE_OK ||
        location == nullptr) {
      break;
    }
    if (redirects == kMaxRedirects) {
      reason = "more than 30 redirects";
      return failed(712);
    }
    Leg next{{}, leg.method, leg.with_body};
    if (int failure = next_leg(capture, location, next)) {
      reason = "a redirect to an address that cannot be parsed or is not http or https";
      return failed(failure);
    }
    // The request body never goes to another origin: the redirect is the answer.
    if (!(next.target.origin == home) && carries_body(request, next)) break;
    if (own_cookies) cookies.take(leg.target.origin, capture.block);
    leg = std::move(next);
  }
  int failure = classify(result, capture);
  if (failure != 0) {
    reason = failure_reason(result, capture, error_buffer.data(),
                            std::chrono::steady_clock::now() >= deadline);
  }
  if (failure != 0 && failure != kHttpFailureBodyRead) return failed(failure);
  Exchange exchange;
  exchange.failure = failure;
  exchange.raw_headers = std::move(capture.block);
  exchange.body = std::move(capture.body);
  return exchange;
}

}  // namespace

Exchange perform_exchange(const HttpRequest& request, const std::string& header_block) {
  std::string reason;
  Exchange exchange = perform_exchange_legs(request, header_block, reason);
  if (exchange.failure != 0 && reason.empty()) reason = setup_reason(exchange.failure);
  exchange.reason = std::move(reason);
  return exchange;
}

bool http_global_init() {
  current_ca_locations();
  return curl_ready();
}

HttpCaLocations http_ca_locations() {
  return current_ca_locations();
}

void set_http_ca_locations(HttpCaLocations locations) {
  std::lock_guard<std::mutex> lock(ca_mutex);
  ca_locations = std::move(locations);
}

}  // namespace sharelink
