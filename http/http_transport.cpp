#include "http/http_transport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include "http/http_exchange.h"
#include "http/http_message.h"
#include "text/local_text.h"

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
//   714  the request's cancel token was cancelled (see http_exchange: a
//        failure after that is reported as 714 too)
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
// Redirects are followed by the chain of http_exchange, not by libcurl, one
// transfer per leg, so that the origin compared is the one of the address
// actually requested: libcurl works out the target (CURLINFO_REDIRECT_URL), the
// same parsed address is compared and handed back to it. The chain keeps the
// caller's cookies, Authorization and Host lines and credentials on the
// address's origin, and the request body too.
//
// https is checked as libcurl does by default, made explicit here: the
// certificate chain against the trusted CAs and the host name against the
// certificate, on every leg; a failed check ends the call, and the address is
// never tried over http instead. Debian's libcurl does not read SSL_CERT_FILE
// and SSL_CERT_DIR as OpenSSL's own tools do, so they are read here, once, and
// handed over as CURLOPT_CAINFO and CURLOPT_CAPATH.
//
// Each transfer runs on a multi handle of the call's, driven here rather than
// by curl_easy_perform, so that the wait for the network never goes longer than
// kCancelCheck without a look at the request's cancel token; a cancelled
// transfer is taken off its multi handle at once, which closes its connection.
//
// The multi handle keeps the connections from leg to leg. A connection pool
// keeps such pairs of an easy and a multi handle ("slots") between calls: a
// call takes an idle slot, preferring one whose last call went to the same
// origin, or makes a new one, and gives it back at its end, so that calls on
// several threads at once each run on a slot of their own and k threads keep
// about k connections per server. libcurl's shared connection cache
// (CURL_LOCK_DATA_CONNECT) would do this with less code, but libcurl does not
// support transfers on several threads using it at once (it reads connections
// in use by other threads while it looks for one to reuse). What the slots
// share, through a libcurl share with real locks, is the TLS sessions; cookies
// stay with each call. libcurl itself keeps proxied and direct connections
// apart, checks a cached connection is still open before reusing it, retries
// on a fresh one when a reused connection dies before any reply byte (which
// is why a send_once request never goes on a reused connection), and
// closes the connection of every transfer that ends early (aborted by a
// callback, body cut short, taken off its multi handle), so none of those is
// handed to the next call.

namespace sharelink {
namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

bool curl_ready() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// A parsed address: the handle is what libcurl requests, the origin is read
// from that same handle.
class CurlAddress final : public LegAddress {
 public:
  CurlAddress(Origin origin, UrlHandle url) : LegAddress(std::move(origin)), url_(std::move(url)) {}
  CURLU* url() const { return url_.get(); }
  std::string text() const override;

 private:
  UrlHandle url_;
};

std::string url_part(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) return {};
  std::string copy(text);
  curl_free(text);
  return copy;
}

std::string CurlAddress::text() const {
  std::string text = url_part(url_.get(), CURLUPART_URL);
  return text.substr(0, text.find('#'));
}

std::unique_ptr<CurlAddress> address_of(UrlHandle url) {
  Origin origin{url_part(url.get(), CURLUPART_SCHEME), url_part(url.get(), CURLUPART_HOST),
                url_part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT)};
  for (char& c : origin.scheme) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (url_part(url.get(), CURLUPART_URL).empty() ||
      (origin.scheme != "http" && origin.scheme != "https")) {
    return nullptr;
  }
  return std::make_unique<CurlAddress>(std::move(origin), std::move(url));
}

std::unique_ptr<CurlAddress> split_address(const std::string& address) {
  UrlHandle url(curl_url());
  if (!url) return nullptr;
  if (curl_url_set(url.get(), CURLUPART_URL, escape_address(address).c_str(), 0) != CURLUE_OK) {
    return nullptr;
  }
  if (has_empty_path(address) &&
      curl_url_set(url.get(), CURLUPART_QUERY, nullptr, 0) != CURLUE_OK) {
    return nullptr;
  }
  return address_of(std::move(url));
}

// libcurl works out a redirect's target without the escaping its own following
// applies; these are the flags it follows with.
std::unique_ptr<CurlAddress> redirect_address(const char* address) {
  UrlHandle url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, address,
                           CURLU_URLENCODE | CURLU_ALLOW_SPACE) != CURLUE_OK) {
    return nullptr;
  }
  return address_of(std::move(url));
}

// What the callbacks see and fill during one transfer, and the limits that
// hold across the call's transfers.
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
  // Of a streaming call: the request and leg whose response may go to the
  // leg's sink, whether this one does, and how much of its body it took.
  const HttpRequest* request = nullptr;
  const Leg* leg = nullptr;
  bool streaming = false;
  std::uint64_t streamed = 0;
  // A streaming call's deadline holds until its response streams.
  ExchangeClock::time_point deadline;

  // Resolving and connecting have their own limit; the floor counts from the
  // moment there is something to move.
  TransferPace pace;
  curl_off_t uploaded = 0;

  void start_transfer() {
    block.clear();
    body.clear();
    sent = final_headers = capped = streaming = false;
    streamed = 0;
    ended_by = nullptr;
    status = 0;
    uploaded = 0;
    pace.restart();
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
  const Leg* leg = capture.leg;
  if (!capture.final_headers || leg == nullptr ||
      !streams_to_sink(*capture.request, *leg, capture.status, capture.block)) {
    return;
  }
  capture.streaming = true;
  if (!leg->sink->on_headers(capture.status, capture.block)) {
    capture.ended_by = kReasonReceiverStopped;
  }
}

// An exception must not unwind through libcurl's C frames: a callback that
// throws (what throws here is growing a text) ends the transfer as out of
// memory instead, and what it held goes at once.
template <typename Callback>
std::size_t guarded(Capture& capture, Callback callback) noexcept {
  try {
    return callback();
  } catch (...) {
    capture.ended_by = kReasonNoMemory;
  }
  Bytes().swap(capture.body);
  std::string().swap(capture.block);
  return 0;
}

std::size_t keep_header_line(Capture& capture, const char* data, std::size_t length) {
  capture.pace.moved(length);
  std::string line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  bool status_line = line.compare(0, 5, "HTTP/") == 0;
  if (status_line) start_block(capture, line);
  if (capture.final_headers && !status_line) return length;  // trailers of a chunked body
  if (line.empty()) {
    end_block(capture);
    return capture.ended_by == nullptr ? length : 0;
  }
  if (capture.block.size() + line.size() + 2 > kHeaderBlockLimit) {
    capture.ended_by = kReasonHeaderLimit;
    return 0;
  }
  capture.block += line;
  capture.block += "\r\n";
  return length;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
  auto& capture = *static_cast<Capture*>(user);
  return guarded(capture, [&] { return keep_header_line(capture, data, size * count); });
}

// The sink's time is none of the server's: the pace counts from its return.
std::size_t stream_body(Capture& capture, const char* data, std::size_t length) {
  if (!capture.leg->sink->on_body(data, length)) {
    capture.ended_by = kReasonReceiverStopped;
    return 0;
  }
  capture.pace.moved(length);
  capture.streamed += length;
  return length;
}

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto& capture = *static_cast<Capture*>(user);
  return guarded(capture, [&] {
    std::size_t length = size * count;
    if (capture.streaming) return stream_body(capture, data, length);
    capture.pace.moved(length);
    if (!append_within_limit(capture.body, data, length)) {
      capture.capped = true;
      capture.ended_by = kReasonBodyLimit;
      return std::size_t{0};
    }
    return length;
  });
}

int on_connected(void* user, char*, char*, int, int) {
  auto& capture = *static_cast<Capture*>(user);
  capture.sent = true;
  capture.final_headers = false;
  capture.pace.restart();
  return CURL_PREREQFUNC_OK;
}

// Ends the transfer by the pace checks (libcurl's low-speed check averages over
// several seconds and lets a stall after a few bytes run on).
int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
  auto& capture = *static_cast<Capture*>(user);
  if (uploaded != capture.uploaded) {
    capture.pace.moved(
        static_cast<std::size_t>(uploaded > capture.uploaded ? uploaded - capture.uploaded : 0));
    capture.uploaded = uploaded;
  }
  const char* why = capture.pace.check(capture.sent);
  if (why == nullptr && capture.leg != nullptr && !capture.streaming &&
      ExchangeClock::now() >= capture.deadline) {
    why = kReasonDeadline;
  }
  if (why == nullptr) return 0;
  capture.ended_by = why;
  return 1;
}

template <typename T>
bool set(CURL* easy, CURLoption option, T value) {
  return curl_easy_setopt(easy, option, value) == CURLE_OK;
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
  long seconds = static_cast<long>(exchange_timeout(request).count());
  capture.pace.set_limit(std::chrono::seconds(seconds));
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
  // libcurl sends a request again only when it went out on a reused
  // connection: one that must reach the server once gets a connection of its
  // own, closed after it.
  if (request.send_once &&
      (!set(easy, CURLOPT_FRESH_CONNECT, 1L) || !set(easy, CURLOPT_FORBID_REUSE, 1L))) {
    return 704;
  }
  return 0;
}

constexpr long kStreamBuffer = 256L << 10;

int configure_leg(CURL* easy, const HttpRequest& request, const Leg& leg, bool on_origin,
                  const curl_slist* headers, std::chrono::milliseconds left) {
  // Every address of a call is one split_address or redirect_address made.
  if (!set(easy, CURLOPT_CURLU, static_cast<const CurlAddress&>(*leg.address).url())) return 703;
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
  // A stream's deadline is the progress check's (it ends once the body
  // streams); a larger buffer keeps a fast body from costing a call per 16 KiB.
  long whole_call =
      leg.sink != nullptr ? 0 : static_cast<long>(std::max<std::int64_t>(1, left.count()));
  if (!set(easy, CURLOPT_TIMEOUT_MS, whole_call) ||
      (leg.sink != nullptr && !set(easy, CURLOPT_BUFFERSIZE, kStreamBuffer))) {
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

int classify(CURLcode result, const Capture& capture) {
  if (result == CURLE_OK) return 0;
  if (capture.ended_by == kReasonCancelled) return kHttpFailureCancelled;
  if (capture.capped) return kHttpFailureBodyRead;
  if (capture.final_headers) return capture.sent ? kHttpFailureBodyRead : 0;
  if (!capture.sent || result == CURLE_SEND_ERROR) return 711;
  return 712;
}

// What kind of failure libcurl reported, where none of our checks ended it.
HttpCause curl_cause(CURLcode result, CURL* easy, const char* error_buffer) {
  // libcurl's own bound on a header block (300 KiB) ends it before ours.
  static const char kHeadersTooLarge[] = "Too large response headers";
  if (std::strncmp(error_buffer, kHeadersTooLarge, sizeof kHeadersTooLarge - 1) == 0) {
    return HttpCause::too_big;
  }
  switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return HttpCause::name_lookup;
    case CURLE_COULDNT_CONNECT: {
      long error = 0;
      curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &error);
      if (error == ECONNREFUSED) return HttpCause::refused;
      return error == ETIMEDOUT ? HttpCause::timed_out : HttpCause::unreachable;
    }
    case CURLE_OPERATION_TIMEDOUT:
      return HttpCause::timed_out;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return HttpCause::broken;
    // A CA bundle that cannot be read trusts nothing: no retry helps either.
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return HttpCause::certificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
      return HttpCause::tls;
    case CURLE_OUT_OF_MEMORY:
      return HttpCause::out_of_memory;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return HttpCause::bad_address;
    default:
      return HttpCause::other;
  }
}

// Why a perform that classify() made a failure ended.
std::string failure_reason(CURLcode result, const Capture& capture, const char* error_buffer,
                           bool past_deadline) {
  if (capture.ended_by != nullptr) return capture.ended_by;
  // libcurl reports the whole call's limit as a plain timeout of its own.
  if (result == CURLE_OPERATION_TIMEDOUT && past_deadline) {
    return kReasonDeadline;
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

// An easy handle and the multi handle that runs its transfers: the multi handle
// keeps the connections, from leg to leg and, in a pool, from call to call. A
// slot serves one call at a time.
struct CurlSlot {
  MultiHandle multi;
  EasyHandle easy;     // declared after multi: it goes first
  std::string origin;  // where the last call on it went (see slot_key)
  bool usable = true;  // false once the easy handle could not leave its multi handle
};

// As many connections as a slot keeps: the server of its calls, and the few
// their redirects lead to.
constexpr long kSlotConnections = 5;
// Idle slots a pool keeps: as many as a job has calls in flight at most.
constexpr std::size_t kIdleSlots = 16;

std::unique_ptr<CurlSlot> make_slot() {
  auto slot = std::make_unique<CurlSlot>();
  slot->multi.reset(curl_multi_init());
  slot->easy.reset(curl_easy_init());
  if (!slot->multi || !slot->easy ||
      curl_multi_setopt(slot->multi.get(), CURLMOPT_MAXCONNECTS, kSlotConnections) != CURLM_OK) {
    return nullptr;
  }
  return slot;
}

// Calls that go to the same origin the same way reuse each other's connections.
std::string slot_key(const Origin& origin, const HttpRequest& request) {
  std::string host = origin.host;
  for (char& c : host) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return origin.scheme + "://" + host + ":" + origin.port + " " + request.proxy;
}

}  // namespace

class HttpConnectionPool {
 public:
  HttpConnectionPool();
  ~HttpConnectionPool();
  HttpConnectionPool(const HttpConnectionPool&) = delete;
  HttpConnectionPool& operator=(const HttpConnectionPool&) = delete;

  // An idle slot whose last call went where key says, else the idle slot
  // given back last, else a new one; null when libcurl gave none.
  std::unique_ptr<CurlSlot> take(const std::string& key);
  // The slot of a call that ended, its options reset.
  void give_back(std::unique_ptr<CurlSlot> slot, std::string key);
  // Null when libcurl gave none: TLS sessions are then the slots' own.
  CURLSH* share() const { return share_; }

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* user);
  static void unlock(CURL*, curl_lock_data data, void* user);

  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
  std::mutex idle_mutex_;
  std::vector<std::unique_ptr<CurlSlot>> idle_;  // guarded by idle_mutex_, oldest first
  CURLSH* share_ = nullptr;
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
      curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK) {
    curl_share_cleanup(share);
    return;
  }
  share_ = share;
}

// No call holds the pool any more (each holds a pointer to it), so every slot
// is idle; its easy handle leaves the share before the share goes, and its
// multi handle closes its connections.
HttpConnectionPool::~HttpConnectionPool() {
  idle_.clear();
  if (share_ != nullptr) curl_share_cleanup(share_);
}

std::unique_ptr<CurlSlot> HttpConnectionPool::take(const std::string& key) {
  {
    std::lock_guard<std::mutex> lock(idle_mutex_);
    if (!idle_.empty()) {
      auto found =
          std::find_if(idle_.rbegin(), idle_.rend(),
                       [&](const std::unique_ptr<CurlSlot>& slot) { return slot->origin == key; });
      auto taken = found != idle_.rend() ? std::prev(found.base()) : std::prev(idle_.end());
      std::unique_ptr<CurlSlot> slot = std::move(*taken);
      idle_.erase(taken);
      return slot;
    }
  }
  return make_slot();
}

void HttpConnectionPool::give_back(std::unique_ptr<CurlSlot> slot, std::string key) {
  if (!slot->usable) return;
  // Nothing of the call that ended stays: its callbacks' data and header
  // list are gone. Connections, the share and the TLS sessions stay.
  curl_easy_reset(slot->easy.get());
  slot->origin = std::move(key);
  std::unique_ptr<CurlSlot> surplus;  // closed outside the lock
  std::lock_guard<std::mutex> lock(idle_mutex_);
  if (idle_.size() >= kIdleSlots) {
    surplus = std::move(idle_.front());
    idle_.erase(idle_.begin());
  }
  idle_.push_back(std::move(slot));
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

// Runs one transfer of the slot's easy handle on its multi handle to its end,
// or until the request's token is cancelled. Returns libcurl's result.
CURLcode run_transfer(CurlSlot& slot, const HttpRequest& request, Capture& capture) {
  CURLM* multi = slot.multi.get();
  CURL* easy = slot.easy.get();
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
  // libcurl's own timers (connect, the call's deadline) cut a wait shorter.
  const int wait_ms = request.cancel ? static_cast<int>(kCancelCheck.count()) : 1000;
  CURLcode result = CURLE_FAILED_INIT;
  for (bool done = false; !done;) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        result = message->data.result;
        done = true;
      }
    }
    if (done || running == 0) break;
    if (cancelled(request)) {
      capture.ended_by = kReasonCancelled;
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    if (curl_multi_poll(multi, nullptr, 0, wait_ms, nullptr) != CURLM_OK) break;
  }
  // A transfer taken off before its end closes its connection: no part of its
  // response is left there for the next transfer to read.
  if (curl_multi_remove_handle(multi, easy) != CURLM_OK) slot.usable = false;
  return result;
}

// One transfer per leg on the call's slot.
class CurlLegs final : public LegTransport {
 public:
  CurlLegs(CurlSlot& slot, const HttpRequest& request, Capture& capture, const char* error_buffer)
      : slot_(slot), request_(request), capture_(capture), error_buffer_(error_buffer) {}

  LegResponse perform(const Leg& leg, bool on_origin, const std::vector<std::string>& lines,
                      ExchangeClock::time_point deadline) override {
    LegResponse response;
    CURL* easy = slot_.easy.get();
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - ExchangeClock::now());
    if (!make_header_list(lines, list_)) {
      response.failure = 710;
    } else {
      response.failure = configure_leg(easy, request_, leg, on_origin, list_.get(), left);
    }
    if (response.failure != 0) return response;
    capture_.start_transfer();
    capture_.request = &request_;
    capture_.leg = leg.sink != nullptr ? &leg : nullptr;
    capture_.deadline = deadline;
    CURLcode result = run_transfer(slot_, request_, capture_);
    capture_.leg = nullptr;
    response.streamed = capture_.streaming;
    response.streamed_bytes = capture_.streamed;
    response.complete = result == CURLE_OK;
    response.failure = classify(result, capture_);
    if (response.failure != 0) {
      response.reason =
          failure_reason(result, capture_, error_buffer_, ExchangeClock::now() >= deadline);
      if (capture_.ended_by == nullptr) response.cause = curl_cause(result, easy, error_buffer_);
    }
    response.status = capture_.status;
    response.block = std::move(capture_.block);
    response.body = std::move(capture_.body);
    return response;
  }

  RedirectTarget redirect_target(const Leg&, const LegResponse&) override {
    char* location = nullptr;
    if (curl_easy_getinfo(slot_.easy.get(), CURLINFO_REDIRECT_URL, &location) != CURLE_OK ||
        location == nullptr) {
      return {};
    }
    return {true, redirect_address(location)};
  }

 private:
  CurlSlot& slot_;
  const HttpRequest& request_;
  Capture& capture_;
  const char* error_buffer_;
  HeaderList list_;
};

Exchange failed(int number) {
  Exchange exchange;
  exchange.failure = number;
  return exchange;
}

// The exchange on a slot; the slot's easy handle keeps pointers to what lives
// here until it is reset or goes.
Exchange exchange_on(CurlSlot& slot, CURLSH* share, const HttpRequest& request,
                     std::unique_ptr<CurlAddress> address, const std::string& header_block,
                     const HttpStreamSink* sink) {
  CURL* easy = slot.easy.get();
  if (share != nullptr && !set(easy, CURLOPT_SHARE, share)) return failed(702);
  Capture capture;
  if (int failure = configure_session(easy, request, http_ca_locations(), capture)) {
    return failed(failure);
  }
  std::array<char, CURL_ERROR_SIZE> error_buffer{};
  if (!set(easy, CURLOPT_ERRORBUFFER, error_buffer.data())) return failed(704);
  CurlLegs legs(slot, request, capture, error_buffer.data());
  return follow_redirects(legs, request, std::move(address), header_block, sink);
}

Exchange perform_exchange_legs(const HttpRequest& request, const std::string& header_block,
                               const HttpStreamSink* sink) {
  if (!curl_ready()) return failed(700);
  std::unique_ptr<CurlAddress> address = split_address(request.url);
  if (!address) return failed(701);
  HttpConnectionPool* pool = request.connections.get();
  std::string key = slot_key(address->origin(), request);
  std::unique_ptr<CurlSlot> slot = pool != nullptr ? pool->take(key) : make_slot();
  if (!slot) return failed(702);
  Exchange exchange = exchange_on(*slot, pool != nullptr ? pool->share() : nullptr, request,
                                  std::move(address), header_block, sink);
  // What the easy handle points at is gone now: it is reset before the pool
  // hands it out again, and without a pool it goes with the slot, connections
  // and all.
  if (pool != nullptr) pool->give_back(std::move(slot), std::move(key));
  return exchange;
}

}  // namespace

Exchange perform_exchange(const HttpRequest& request, const std::string& header_block,
                          const HttpStreamSink* sink) {
  Exchange exchange = perform_exchange_legs(request, header_block, sink);
  if (exchange.failure != 0 && exchange.reason.empty()) {
    exchange.reason = setup_reason(exchange.failure);
  }
  return exchange;
}

bool http_global_init() {
  http_ca_locations();
  return curl_ready();
}

}  // namespace sharelink
