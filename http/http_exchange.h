#pragma once

// What the HTTP transports share: the limits of an exchange, the chain of
// redirects with its origin checks, the pace checks of a transfer and the
// request's cancel token. A transport sends one request and reads its
// response; this part decides what goes to which address, and when a transfer
// has taken too long or is no longer wanted.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "http/http_request.h"
#include "http/http_stream.h"
#include "http/http_transport.h"
#include "text/local_text.h"

namespace sharelink {

constexpr std::size_t kBodyLimit = std::size_t{64} << 20;
// A reply sending header lines without end would otherwise grow the block
// until the deadline.
constexpr std::size_t kHeaderBlockLimit = std::size_t{1} << 20;
// As many as libcurl follows by default; a redirect loop ends.
constexpr int kMaxRedirects = 30;
// The whole call gets this many times the request's timeout.
constexpr int kDeadlineFactor = 10;

// Why a transfer ended, where one of our own limits or checks ended it.
extern const char* const kReasonBodyLimit;
extern const char* const kReasonHeaderLimit;
extern const char* const kReasonStall;
extern const char* const kReasonSlow;
extern const char* const kReasonDeadline;
extern const char* const kReasonRedirects;
extern const char* const kReasonBadRedirect;
extern const char* const kReasonCancelled;
extern const char* const kReasonNoMemory;
extern const char* const kReasonShortBody;

// The kind of failure one of the reasons above names; none for any other text.
HttpCause own_cause(const std::string& reason);

// How long a transport waiting for the network goes at most without looking
// at the request's cancel token: a cancelled call ends within about this.
constexpr std::chrono::milliseconds kCancelCheck{50};

// Whether the request carries a token that was cancelled.
bool cancelled(const HttpRequest& request);

using ExchangeClock = std::chrono::steady_clock;

// The request's timeout: resolving, connecting, and every stall.
std::chrono::seconds exchange_timeout(const HttpRequest& request);

struct Origin {
  std::string scheme;  // lower case
  std::string host;    // compared ignoring ASCII letter case
  std::string port;    // decimal, the scheme's default when the address names none
  bool operator==(const Origin& other) const;
  bool operator!=(const Origin& other) const { return !(*this == other); }
};

// An address as a transport parsed it: what the transport requests, and the
// origin read from that same parse, so that the origin compared is the one of
// the address actually requested.
class LegAddress {
 public:
  explicit LegAddress(Origin origin) : origin_(std::move(origin)) {}
  virtual ~LegAddress() = default;
  LegAddress(const LegAddress&) = delete;
  LegAddress& operator=(const LegAddress&) = delete;
  const Origin& origin() const { return origin_; }
  // The address as requested, without its fragment.
  virtual std::string text() const = 0;

 private:
  Origin origin_;
};

// One request of the chain: the request itself, or one redirect after it.
struct Leg {
  std::unique_ptr<LegAddress> address;
  int method = kHttpGet;
  bool with_body = true;  // false once a redirect turned the method into a GET
  // Set when the call streams: the final response's header block and body go
  // here as they arrive instead of into LegResponse (see streams_to_sink).
  const HttpStreamSink* sink = nullptr;
};

// Whether the response whose header block just arrived on leg goes to the
// leg's sink: it has one and the response is no redirect the chain may follow.
// A redirect's body is kept as http_request keeps it; should the chain not
// follow it after all, follow_redirects hands it to the sink itself.
bool streams_to_sink(const HttpRequest& request, const Leg& leg, long status,
                     const std::string& block);

// Whether the leg sends the request's body (HEAD never does, GET only with one).
bool carries_body(const HttpRequest& request, const Leg& leg);

struct LegResponse {
  int failure = 0;     // 0, or 700-714 (713: status, block and body are valid)
  std::string reason;  // for a failure; empty: the transport's words for its number
  // For a failure the library reported; none where reason is one of ours.
  HttpCause cause = HttpCause::none;
  bool complete = false;  // the transfer ran to its end: a redirect may be followed
  long status = 0;
  std::string block;  // the response's header block, CR LF line ends, empty line last
  Bytes body;
  bool streamed = false;             // block went to the leg's sink, the body after it
  std::uint64_t streamed_bytes = 0;  // body bytes the sink took
};

struct RedirectTarget {
  bool named = false;  // the response names a target
  // Null when it names one that cannot be parsed or is not http or https.
  std::unique_ptr<LegAddress> address;
};

// What a transport does for the chain.
class LegTransport {
 public:
  virtual ~LegTransport() = default;
  // Sends one request of the chain with these header lines and reads its
  // response, giving up at deadline. leg.address is one this transport made.
  // A response streamed to leg.sink has no deadline once its header block
  // came, and no size limit: the stall and low-speed checks alone bound it.
  // A sink that refuses a piece ends the transfer at once, its connection
  // closed, as 713 with kReasonReceiverStopped.
  virtual LegResponse perform(const Leg& leg, bool on_origin, const std::vector<std::string>& lines,
                              ExchangeClock::time_point deadline) = 0;
  // Where the response perform just returned for leg redirects to.
  virtual RedirectTarget redirect_target(const Leg& leg, const LegResponse& response) = 0;
};

// The whole exchange from its parsed address: header_block's lines go out with
// every leg (the caller's Authorization, Cookie and Host lines only to the
// address's origin), redirects are followed one leg at a time unless the
// request says not to, and a leg that would carry the body to another origin is
// not taken: its redirect is the answer. No leg starts once the request's token
// is cancelled, and a leg that failed after that fails as cancelled. A failure
// without a reason of the chain's own leaves Exchange::reason empty for the
// transport to fill. With a sink, the final response goes to it (see Leg::sink)
// and never a redirect that was followed.
Exchange follow_redirects(LegTransport& transport, const HttpRequest& request,
                          std::unique_ptr<LegAddress> address, const std::string& header_block,
                          const HttpStreamSink* sink = nullptr);

// The stall and low-speed checks of one transfer: it ends once nothing moved
// for the limit, or when a period of at least the limit, counted from the
// moment the request goes out, moved fewer bytes than it lasted seconds (less
// than a byte a second: a drip that never stalls).
class TransferPace {
 public:
  void set_limit(std::chrono::seconds limit) { limit_ = limit; }
  std::chrono::seconds limit() const { return limit_; }
  // A new transfer, or the request going out: both clocks start now.
  void restart();
  void moved(std::size_t bytes);
  // Null while the transfer may go on, else why it must end; the floor holds
  // only with floor_applies (once the request is going out).
  const char* check(bool floor_applies);

 private:
  std::chrono::seconds limit_{30};
  ExchangeClock::time_point last_progress_;
  ExchangeClock::time_point period_start_;
  std::uint64_t period_bytes_ = 0;
};

// The answer of a call (HttpResponse or HttpStreamResponse) that ran out of
// memory: nothing of the response, which is what did not fit. Its texts are
// small, but memory is short: what fits is there.
template <typename Response>
Response out_of_memory_answer(const HttpRequest& request) noexcept {
  Response response;
  response.failure = kHttpFailureBodyRead;
  response.cause = HttpCause::out_of_memory;
  try {
    response.cookies = request.cookies;
    response.status_text = http_failure_text(response.failure);
    response.reason = kReasonNoMemory;
  } catch (const std::bad_alloc&) {
  }
  return response;
}

// Appends data to body up to kBodyLimit; false when it did not all fit.
bool append_within_limit(Bytes& body, const char* data, std::size_t length);

}  // namespace sharelink
