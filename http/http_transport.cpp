#include "http/http_transport.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <curl/curl.h>

#include "http/http_message.h"
#include "http/local_text.h"

// How libcurl's results become failure numbers:
//
//   700  curl_global_init failed (tried once per process; every call reports it)
//   701  curl_url cannot parse the address, or its scheme is not http or https
//   702  curl_easy_init gave no handle, or the proxy options were rejected
//   703  the address or the allowed-protocol options were rejected
//   704  the method, body, callback or protocol-version options were rejected
//   705  a timeout option was rejected
//   707  the server or the proxy credential options were rejected
//   708  the cookie engine options (COOKIEFILE, COOKIE) were rejected
//   709  a redirect option was rejected
//   710  a header line is malformed (no name and colon, stray CR or LF), or the
//        header list was rejected
//   711  the transfer ended before a request went out on a connection: unknown
//        host, refused or timed-out connect, TLS failure, failed proxy tunnel,
//        redirect to an address that is not http or https; also CURLE_SEND_ERROR
//   712  the request went out but no final response's header block came back:
//        timeout, connection closed, malformed reply, too many redirects
//   713  the final response's header block arrived and then the body broke off
//        (connection closed early, stalled past the timeout, receive error) or
//        passed kBodyLimit; the headers and the bytes so far are kept
//   A proxy that refuses the CONNECT tunnel of an https address (407 and the
//   like) is no failure: its reply is returned, as for a plain http address.
//
// A connection pool is a libcurl share of the connection cache and the TLS
// sessions, nothing else: cookies stay in each call's own engine. libcurl does
// not support one connection cache used by transfers on several threads at
// once, so a call holds the pool for its whole life, easy handle cleanup
// included, and a call that finds it held goes without. libcurl itself keeps
// proxied and direct connections apart, checks a cached connection is still
// open before reusing it, retries on a fresh one when a reused connection
// dies before any reply byte, and closes the connection of every transfer that
// ends early (aborted by a callback, body cut short), so none of those is
// handed to the next call.

namespace sharelink {
namespace {

constexpr std::size_t kBodyLimit = std::size_t{64} << 20;
// libcurl 7.88 follows redirects without limit unless told; later releases stop
// at 30 by default, which keeps a redirect loop from running forever.
constexpr long kMaxRedirects = 30;

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

struct Address {
  std::string url;
  Origin origin;
};

std::string url_part(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) return {};
  std::string copy(text);
  curl_free(text);
  return copy;
}

std::optional<Address> address_of(CURLU* url) {
  Address address;
  address.url = url_part(url, CURLUPART_URL);
  address.origin = {lower(url_part(url, CURLUPART_SCHEME)), url_part(url, CURLUPART_HOST),
                    url_part(url, CURLUPART_PORT, CURLU_DEFAULT_PORT)};
  const std::string& scheme = address.origin.scheme;
  if (address.url.empty() || (scheme != "http" && scheme != "https")) return std::nullopt;
  return address;
}

std::optional<Address> split_address(const std::string& url) {
  UrlHandle handle(curl_url());
  if (!handle) return std::nullopt;
  if (curl_url_set(handle.get(), CURLUPART_URL, escape_address(url).c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  if (has_empty_path(url) && curl_url_set(handle.get(), CURLUPART_QUERY, nullptr, 0) != CURLUE_OK) {
    return std::nullopt;
  }
  return address_of(handle.get());
}

// The target libcurl itself would follow to, with the flags its redirect code uses.
std::optional<Address> resolve_redirect(const std::string& base, const std::string& location) {
  UrlHandle handle(curl_url());
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
      curl_url_set(handle.get(), CURLUPART_URL, location.c_str(),
                   CURLU_URLENCODE | CURLU_ALLOW_SPACE) != CURLUE_OK) {
    return std::nullopt;
  }
  return address_of(handle.get());
}

// Whether following location certainly stays on origin, decided without libcurl
// since it runs inside a callback: relative references stay, an absolute
// "scheme://authority" one is compared, anything else counts as leaving.
bool stays_on_origin(const std::string& location, const Origin& origin) {
  if (location[0] == '/' || location[0] == '\\') {
    return location.size() == 1 || (location[1] != '/' && location[1] != '\\');
  }
  std::size_t colon = location.find(':');
  if (colon == std::string::npos || colon > location.find_first_of("/?#\\")) return true;
  if (location.compare(colon, 3, "://") != 0) return false;
  std::size_t start = colon + 3;
  std::size_t end = location.find_first_of("/?#\\", start);
  std::string authority = location.substr(start, end == std::string::npos ? end : end - start);
  authority = authority.substr(authority.rfind('@') + 1);
  std::size_t port_colon = authority.rfind(':');
  if (port_colon != std::string::npos && authority.find(']', port_colon) != std::string::npos) {
    port_colon = std::string::npos;  // a colon inside an IPv6 literal
  }
  Origin target{lower(location.substr(0, colon)), authority.substr(0, port_colon), ""};
  if (port_colon != std::string::npos) target.port = authority.substr(port_colon + 1);
  if (target.port.empty()) target.port = target.scheme == "https" ? "443" : "80";
  return target == origin;
}

// What the callbacks see and fill during one curl_easy_perform.
struct Capture {
  bool follow = false;
  bool guard_cookie = false;  // our Cookie line rides on this transfer
  Origin origin;              // of the request's address

  std::string block;  // the current response's header block
  long status = 0;
  std::string redirect_to;  // the first Location value, the one libcurl follows
  bool sent = false;        // a request went out on the current connection
  bool final_headers = false;
  bool stopped = false;  // aborted before a redirect that would take our Cookie line along
  bool capped = false;
  Bytes body;

  std::chrono::seconds stall_limit{30};
  std::chrono::steady_clock::time_point last_progress;
  curl_off_t uploaded = 0;

  void start_transfer() {
    sent = final_headers = stopped = false;
    status = 0;
    redirect_to.clear();
    moved();
  }
  void moved() { last_progress = std::chrono::steady_clock::now(); }
};

void start_block(Capture& capture, const std::string& status_line) {
  capture.block.clear();
  capture.redirect_to.clear();
  capture.final_headers = false;
  std::size_t space = status_line.find(' ');
  capture.status = space == std::string::npos ? 0 : std::atol(status_line.c_str() + space + 1);
}

// Returns false to abort the transfer.
bool end_block(Capture& capture) {
  capture.block += "\r\n";
  if (capture.status < 200) return true;  // an interim reply: the real one follows
  if (!capture.sent) {
    // The proxy's reply to CONNECT: 2xx opens the tunnel, anything else is the answer.
    capture.final_headers = capture.status >= 300;
    return true;
  }
  if (capture.follow && capture.status >= 300 && capture.status < 400 &&
      !capture.redirect_to.empty()) {
    if (capture.guard_cookie && !stays_on_origin(capture.redirect_to, capture.origin)) {
      capture.stopped = true;
      return false;
    }
    capture.sent = false;  // libcurl goes on with the redirected request
    return true;
  }
  capture.final_headers = true;
  return true;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
  auto& capture = *static_cast<Capture*>(user);
  capture.moved();
  std::size_t length = size * count;
  std::string line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  bool status_line = line.compare(0, 5, "HTTP/") == 0;
  if (status_line) start_block(capture, line);
  if (capture.final_headers && !status_line) return length;  // trailers of a chunked body
  if (line.empty()) return end_block(capture) ? length : 0;
  capture.block += line + "\r\n";
  std::size_t colon = line.find(':');
  if (capture.redirect_to.empty() && colon != std::string::npos &&
      lower(line.substr(0, colon)) == "location") {
    capture.redirect_to = trim_spaces(line.substr(colon + 1));
  }
  return length;
}

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto& capture = *static_cast<Capture*>(user);
  capture.moved();
  std::size_t length = size * count;
  if (capture.body.size() + length > kBodyLimit) {
    capture.body.append(data, kBodyLimit - capture.body.size());
    capture.capped = true;
    return 0;
  }
  capture.body.append(data, length);
  return length;
}

int on_connected(void* user, char*, char*, int, int) {
  auto& capture = *static_cast<Capture*>(user);
  capture.sent = true;
  capture.final_headers = false;
  capture.moved();
  return CURL_PREREQFUNC_OK;
}

// Ends the transfer once nothing moved for the limit: libcurl's low-speed check
// averages over several seconds and lets a stall after a few bytes run on.
int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
  auto& capture = *static_cast<Capture*>(user);
  if (uploaded != capture.uploaded) {
    capture.uploaded = uploaded;
    capture.moved();
  }
  return std::chrono::steady_clock::now() - capture.last_progress >= capture.stall_limit ? 1 : 0;
}

template <typename T>
bool set(CURL* easy, CURLoption option, T value) {
  return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

// Options that hold for the whole call; returns a failure number or 0.
int configure_session(CURL* easy, const HttpRequest& request, Capture& capture) {
  // An empty proxy name also keeps libcurl from taking one from the environment.
  if (!set(easy, CURLOPT_PROXY, request.proxy.c_str()) || !set(easy, CURLOPT_NOPROXY, "") ||
      !set(easy, CURLOPT_PROXYTYPE, long{CURLPROXY_HTTP})) {
    return 702;
  }
  if (!set(easy, CURLOPT_PROTOCOLS_STR, "http,https") ||
      !set(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https")) {
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
  // Resolving and connecting get the limit as a whole; after that, a stall of that
  // long while sending or receiving ends the transfer, as a receive timeout would,
  // and a slow but moving download goes on.
  long seconds = request.timeout_seconds > 0 ? request.timeout_seconds : 30;
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
  // An empty file name switches the engine on without reading anything; its store
  // lives in the handle and goes with it.
  if (request.cookies && !set(easy, CURLOPT_COOKIEFILE, "")) return 708;
  if (!set(easy, CURLOPT_FOLLOWLOCATION, request.no_redirect ? 0L : 1L)) return 709;
  return 0;
}

// One curl_easy_perform: the request itself, or the rest of its redirect chain
// after the chain left the address's origin.
struct Leg {
  std::string url;
  int method = kHttpGet;
  bool with_body = true;
  bool on_origin = true;  // our Cookie line and the server credentials go along
};

int configure_leg(CURL* easy, const HttpRequest& request, const Leg& leg, const std::string& cookie,
                  long redirects_left) {
  if (!set(easy, CURLOPT_URL, leg.url.c_str())) return 703;
  const std::string& data = request.post_data;
  bool body = leg.with_body && leg.method != kHttpHead && (leg.method != kHttpGet || !data.empty());
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
  bool credentials = leg.on_origin && !request.user.empty() && !request.password.empty();
  if (!set(easy, CURLOPT_USERNAME, credentials ? request.user.c_str() : nullptr) ||
      !set(easy, CURLOPT_PASSWORD, credentials ? request.password.c_str() : nullptr) ||
      !set(easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC)) {
    return 707;
  }
  bool with_cookie = leg.on_origin && !cookie.empty();
  if (!set(easy, CURLOPT_COOKIE, with_cookie ? cookie.c_str() : nullptr)) return 708;
  if (!set(easy, CURLOPT_MAXREDIRS, redirects_left)) return 709;
  return 0;
}

int method_named(const char* verb) {
  std::string name = verb == nullptr ? "" : verb;
  if (name == "POST") return kHttpPost;
  if (name == "HEAD") return kHttpHead;
  if (name == "PUT") return kHttpPut;
  return kHttpGet;
}

// The leg that follows the redirect a transfer stopped at, with libcurl's own
// method rules; a failure number when there is none.
int next_leg(CURL* easy, const Capture& capture, long& redirects_left, Leg& leg) {
  long followed = 0;
  char* current = nullptr;
  char* verb = nullptr;
  curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &followed);
  curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &current);
  curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_METHOD, &verb);
  redirects_left -= followed + 1;
  if (redirects_left < 0) return 712;
  std::optional<Address> target =
      resolve_redirect(current != nullptr ? current : leg.url, capture.redirect_to);
  if (!target) return 711;
  int method = method_named(verb);
  bool with_body = leg.with_body && method == leg.method;
  bool to_get = (capture.status == 303 && method != kHttpHead) ||
                ((capture.status == 301 || capture.status == 302) && method == kHttpPost);
  leg.url = target->url;
  leg.method = to_get ? kHttpGet : method;
  leg.with_body = with_body && !to_get;
  leg.on_origin = target->origin == capture.origin;
  return 0;
}

int classify(CURLcode result, const Capture& capture) {
  if (result == CURLE_OK) return 0;
  if (capture.capped) return kHttpFailureBodyRead;
  if (result == CURLE_TOO_MANY_REDIRECTS) return 712;
  if (capture.final_headers) return capture.sent ? kHttpFailureBodyRead : 0;
  if (!capture.sent || result == CURLE_SEND_ERROR) return 711;
  return 712;
}

Exchange failed(int number) {
  Exchange exchange;
  exchange.failure = number;
  return exchange;
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

Exchange perform_exchange(const HttpRequest& request, const std::string& header_block) {
  if (!curl_ready()) return failed(700);
  std::optional<Address> address = split_address(request.url);
  if (!address) return failed(701);
  // Declared before the easy handle: the handle leaves the pool before the
  // claim on it ends and before the pool can go.
  std::shared_ptr<HttpConnectionPool> pool = request.connections;
  std::unique_lock<std::mutex> claim;
  if (pool && pool->share() != nullptr) claim = pool->claim();
  EasyHandle easy(curl_easy_init());
  if (!easy) return failed(702);
  if (claim.owns_lock() && !set(easy.get(), CURLOPT_SHARE, pool->share())) return failed(702);
  Capture capture;
  capture.follow = !request.no_redirect;
  capture.origin = address->origin;
  if (int failure = configure_session(easy.get(), request, capture)) return failed(failure);

  OutgoingHeaders headers = split_header_block(header_block, request.cookies.has_value());
  HeaderList list;
  for (const std::string& line : headers.lines) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) return failed(710);
    // curl_slist_append returns the same head it was given, or a new list.
    static_cast<void>(list.release());
    list.reset(grown);
  }
  if (!headers.valid || !set(easy.get(), CURLOPT_HTTPHEADER, list.get())) return failed(710);

  bool known_method = request.method >= kHttpGet && request.method <= kHttpPut;
  Leg leg{address->url, known_method ? request.method : kHttpGet, true, true};
  long redirects_left = kMaxRedirects;
  for (;;) {
    int failure = configure_leg(easy.get(), request, leg, headers.cookie, redirects_left);
    if (failure != 0) return failed(failure);
    capture.start_transfer();
    capture.guard_cookie = leg.on_origin && !headers.cookie.empty();
    CURLcode result = curl_easy_perform(easy.get());
    if (capture.stopped) {
      failure = next_leg(easy.get(), capture, redirects_left, leg);
      if (failure != 0) return failed(failure);
      continue;
    }
    failure = classify(result, capture);
    if (failure != 0 && failure != kHttpFailureBodyRead) return failed(failure);
    Exchange exchange;
    exchange.failure = failure;
    exchange.raw_headers = std::move(capture.block);
    exchange.body = std::move(capture.body);
    return exchange;
  }
}

bool http_global_init() {
  return curl_ready();
}

}  // namespace sharelink
