#pragma once

// One complete HTTP exchange per call: the request goes out with the program's
// default header rows, the whole response comes back, the response's cookies are
// merged into the caller's cookie text and the body is handed back both as raw
// bytes and as local text (re-decoded when the page declares a charset). Nothing
// is kept from one call to the next but, when the request names a connection
// pool, the pool's open connections and TLS sessions; calls on different threads
// are independent.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "text/local_text.h"

namespace sharelink {

// Values of HttpRequest::method; any other value sends a GET.
constexpr int kHttpGet = 0;
constexpr int kHttpPost = 1;
constexpr int kHttpHead = 2;
constexpr int kHttpPut = 3;

// Failure numbers reported in HttpResponse::failure (texts in status_text).
constexpr int kHttpFailureFirst = 700;
constexpr int kHttpFailureBodyRead = 713;
// The request's cancel token was cancelled: the call sent nothing more once it
// saw that, and nothing of a response is kept.
constexpr int kHttpFailureCancelled = 714;

// Open connections (and TLS sessions) that calls naming the same pool reuse, so
// that a session of calls to one service pays the TCP and TLS handshakes once.
// Only connections carry over: every call still has its own request, headers and
// cookies. Safe to share between threads: calls on several threads at once each
// take a connection of the pool that no other call is using, or open one that
// then stays in the pool, so k threads calling one server one request after
// another keep about k connections open to it. The pool's connections close
// when the last pointer to it goes.
class HttpConnectionPool;
std::shared_ptr<HttpConnectionPool> make_connection_pool();

// Ends exchanges from any thread: once cancel() is called, every call whose
// request carries the token ends within about a tenth of a second with failure
// 714, whatever phase it is in, sends no further request (a redirect is not
// followed), and a call that starts with it cancelled sends nothing at all. A
// call that already had its whole response keeps it. There is no undoing it:
// the next calls need a new token.
class HttpCancel {
 public:
  void cancel() { cancelled_.store(true, std::memory_order_release); }
  bool cancelled() const { return cancelled_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> cancelled_{false};
};

// What kind of failure ended a call, so that a user can be told why in the
// program's own words (the library's message is in HttpResponse::reason).
enum class HttpCause {
  none,           // no failure
  bad_address,    // the address could not be read or its scheme is not http(s)
  name_lookup,    // the host name was not found
  refused,        // the host refused the connection
  unreachable,    // no connection for another reason (no route, network down)
  timed_out,      // no connection, or no byte, within the time limit
  broken,         // the connection was reset or closed before the reply ended
  tls,            // the TLS handshake failed
  certificate,    // the server's certificate is not trusted or not the host's
  too_big,        // a reply or header block past the client's own limits
  out_of_memory,  // the reply did not fit in memory
  redirect,       // a redirect the client refused to follow, or too many
  cancelled,      // the request's cancel token
  other,
};

struct HttpRequest {
  // Absolute http or https address in local text. Non-ASCII characters, spaces and
  // the other characters not allowed in an address are sent percent-escaped as
  // UTF-8; everything else, existing escapes included, goes out as written. An
  // address without a path (host directly followed by "?") requests "/" and drops
  // its query.
  std::string url;
  int method = kHttpGet;
  // The request body, sent as its bytes (also with a GET); HEAD sends none.
  std::string post_data;
  // Absent: no Cookie line is built and no cookie the server sets during the
  // exchange is sent back. Present (even empty): sent as the Cookie line, the
  // last of the header rows, and cookies set by a redirect response go with the
  // later requests of the chain to the origin (scheme, host, port) that set
  // them. The text never goes to another origin than that of url.
  std::optional<std::string> cookies;
  // Extra request header lines separated by CR LF, without a final CR LF. A line
  // whose name one of the default rows searches for keeps that default line out.
  std::string headers;
  // True: a 3xx response is returned itself instead of being followed. It is
  // also returned when following it would send post_data to another origin
  // (a 307 or 308 answer to a POST, for one).
  bool no_redirect = false;
  // Basic credentials for the server, used only when both are non-empty, and
  // only with requests to the origin of url.
  std::string user;
  std::string password;
  // "host:port" of an HTTP proxy for http and https addresses; empty: direct.
  std::string proxy;
  // Basic credentials for the proxy, used only when both are non-empty.
  std::string proxy_user;
  std::string proxy_password;
  // Limit in seconds for resolving and connecting and for every stall while
  // sending or receiving; 0 or less means 30. A transfer that moves less than a
  // byte a second over such a period also ends, and the whole call, redirects
  // included, ends after ten times the limit: each fails as a stall does.
  int timeout_seconds = 0;
  // Null: a connection of the call's own, closed after it.
  std::shared_ptr<HttpConnectionPool> connections;
  // Null: the call runs until it ends by itself.
  std::shared_ptr<const HttpCancel> cancel;
  // True: the request is sent at most once. It goes on a new connection that
  // is closed after it, so that no transport resends it when a kept
  // connection turns out dead; a connection that breaks fails the call. For
  // requests the server must never see twice (a password check counts tries).
  // (Under Wine, whose WinHTTP keeps one cache of connections per process, it
  // may go on a kept connection that is still open; it is not resent there
  // either.)
  bool send_once = false;
};

struct HttpResponse {
  // The result: body up to its first zero byte as local text, re-decoded from the
  // charset a meta tag in its first 1024 bytes names or, without such a tag, the
  // charset of the Content-Type header ("gbk" and "gb2312" mean as received).
  // Empty after failures 700 to 712 and 714.
  std::string text;
  // The request's cookies merged with the cookies the origin of url set: on
  // the redirects of the chain, then in the final response when that came from
  // the same origin (every space removed). What other origins set is never
  // part of it. Absent when the request had none. A failure leaves the
  // request's text unchanged.
  std::optional<std::string> cookies;
  // name=value of every Set-Cookie line, joined by "; " (by ";" when the request
  // had cookies, since the merge removes spaces).
  std::string set_cookies;
  // Header block of the final response (status line first, CR LF line ends,
  // ending with the empty line), every spelling of Set-Cookie written Set-Cookie.
  std::string response_headers;
  // The value of the last "Location: " line; empty when there is none.
  std::string location;
  // Status code and reason phrase ("302 Found"), or the text of failure 700-712
  // or 714.
  std::string status_text;
  // All body bytes received (at most 64 MiB).
  Bytes body;
  // 0, or the failure number 700-714. 713: the body broke off (or passed 64 MiB)
  // after the headers arrived; everything above is filled from what came, and
  // status_text is the response's status. 714: the request's token was
  // cancelled (a failure of any other kind that came after that is reported
  // as 714 too); the other members are as after 700-712.
  int failure = 0;
  // For failures 703 and 711 to 713: the connection failed or broke, or no
  // answer came in time, so that the same request may succeed later; false
  // for what the client itself refused (too many redirects, a body or header
  // block past its limit, a reply past the memory left), for a certificate
  // it does not trust, for a cancel, and for every failure of a send_once
  // request, which may have reached the server.
  bool transient = false;
  // For a failure, its kind and why in the HTTP library's words or ours (the
  // trace record's reason). A call that ran out of memory fails with 713 and
  // out_of_memory and keeps nothing of the response but the request's cookies;
  // http_request throws nothing.
  HttpCause cause = HttpCause::none;
  std::string reason;
};

HttpResponse http_request(const HttpRequest& request);

// Sets up the HTTP stack for the process. Calls do it themselves when needed;
// a program calls it on its main thread at start-up, before any other thread
// exists, since the stack's global set-up is not safe to race with anything.
// It also reads SSL_CERT_FILE and SSL_CERT_DIR (see http_ca_locations), so
// that no other thread is reading the environment then.
// False when it failed (every call then reports failure 700).
bool http_global_init();

// Where the certificate authorities that https servers are checked against
// come from. Certificates and host names are always checked; nothing turns
// that off. An empty member leaves libcurl's built-in place (the system's CA
// bundle and folder).
struct HttpCaLocations {
  std::string file;    // a PEM bundle, used instead of the built-in bundle
  std::string folder;  // a folder of certificates under their hashed names
};

// The locations in force: SSL_CERT_FILE and SSL_CERT_DIR as they were when
// http_global_init (or, without it, the process's first call) read them, once
// for the life of the process, unless set_http_ca_locations replaced them.
HttpCaLocations http_ca_locations();

// Replaces the locations for the calls that start after it; safe at any time.
// For tests, which must not change the environment once threads run.
void set_http_ca_locations(HttpCaLocations locations);

// "GET", "POST", "HEAD" or "PUT": the method a value of HttpRequest::method sends.
const char* http_method_name(int method);

// The exact text of a failure number, "" for numbers without one.
std::string http_failure_text(int number);

// What one http_request call did, for a user or a developer to see why a job
// failed. Texts are local text.
struct HttpTraceRecord {
  std::string method;  // "GET", "POST", "HEAD" or "PUT"
  // The request's url with the value of every pwd query parameter put as
  // "****"; cookies are never part of it.
  std::string url;
  int status = 0;            // the final response's status code; 0 when none came
  std::uint64_t bytes = 0;   // body bytes received
  double seconds = 0;        // the whole call, redirects included
  int failure = 0;           // as HttpResponse::failure
  std::string failure_text;  // http_failure_text(failure)
  // Why it failed: libcurl's own message, or ours where one of our limits or
  // checks ended it. Empty without a failure.
  std::string reason;
};

// Installs the process's trace sink, called once per http_request call after
// it ends, on the calling thread (so it must be safe to call from any thread
// that makes requests). Null turns tracing off. Safe to call at any time; a
// call already under way may still report to the sink it started with.
void set_http_trace(std::function<void(const HttpTraceRecord&)> sink);

}  // namespace sharelink
