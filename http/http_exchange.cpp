#include "http/http_exchange.h"

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "http/cookies.h"
#include "http/http_message.h"
#include "http/web_address.h"

namespace sharelink {

const char* const kReasonBodyLimit = "the body passed its limit of 64 MiB";
const char* const kReasonHeaderLimit = "the header block passed its limit of 1 MiB";
const char* const kReasonStall = "timed out: nothing sent or received for the request's timeout";
const char* const kReasonSlow = "timed out: less than a byte a second over the request's timeout";
const char* const kReasonDeadline =
    "timed out: the exchange passed its limit of ten times the request's timeout";
const char* const kReasonRedirects = "more than 30 redirects";
const char* const kReasonBadRedirect =
    "a redirect to an address that cannot be parsed or is not http or https";
const char* const kReasonCancelled = "cancelled: the request's token was cancelled";
const char* const kReasonNoMemory = "the reply did not fit in the memory left to the program";
const char* const kReasonShortBody = "the connection closed before the whole body arrived";
const char* const kReasonReceiverStopped = "the receiver of the body stopped it";

namespace {

// Read once: no thread reads the environment after start-up.
std::mutex ca_mutex;
std::optional<HttpCaLocations> ca_locations;  // guarded by ca_mutex

std::string environment_value(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
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

  // Merges the cookies that a response of origin set; returns them.
  std::string take(const Origin& origin, const std::string& header_block) {
    std::string block = header_block;
    std::string received;
    std::string location;
    read_header_lines(block, received, location);
    if (!received.empty()) merge_cookies(of(origin), received);
    return received;
  }

 private:
  std::vector<std::pair<Origin, std::string>> texts_;
};

// The leg after a redirect response of leg, with the usual method rules: 303
// turns all but HEAD into a GET without body, 301 and 302 turn a POST into one;
// the rest keep method and body.
Leg redirected(const Leg& leg, long status, std::unique_ptr<LegAddress> target) {
  bool to_get = (status == 303 && leg.method != kHttpHead) ||
                ((status == 301 || status == 302) && leg.method == kHttpPost);
  Leg next;
  next.address = std::move(target);
  next.method = to_get ? kHttpGet : leg.method;
  next.with_body = leg.with_body && !to_get;
  next.sink = leg.sink;
  return next;
}

Exchange failed(int number, std::string reason = std::string(), HttpCause cause = HttpCause::none) {
  Exchange exchange;
  exchange.failure = number;
  exchange.reason = std::move(reason);
  exchange.cause = cause;
  return exchange;
}

// A final response the transport kept rather than streamed (a redirect the
// chain did not follow after all) goes to the sink now, as if it streamed.
void hand_to_sink(const HttpStreamSink& sink, LegResponse& response) {
  response.streamed = true;
  bool taken = sink.on_headers(response.status, response.block);
  if (taken && !response.body.empty()) {
    taken = sink.on_body(response.body.data(), response.body.size());
    if (taken) response.streamed_bytes = response.body.size();
  }
  Bytes().swap(response.body);
  if (!taken) {
    response.failure = kHttpFailureBodyRead;
    response.reason = kReasonReceiverStopped;
    response.cause = HttpCause::none;
  }
}

}  // namespace

HttpCause own_cause(const std::string& reason) {
  const std::pair<const char*, HttpCause> kinds[] = {
      {kReasonBodyLimit, HttpCause::too_big},      {kReasonHeaderLimit, HttpCause::too_big},
      {kReasonStall, HttpCause::timed_out},        {kReasonSlow, HttpCause::timed_out},
      {kReasonDeadline, HttpCause::timed_out},     {kReasonRedirects, HttpCause::redirect},
      {kReasonBadRedirect, HttpCause::redirect},   {kReasonCancelled, HttpCause::cancelled},
      {kReasonNoMemory, HttpCause::out_of_memory}, {kReasonShortBody, HttpCause::broken},
      {kReasonReceiverStopped, HttpCause::other},
  };
  for (const auto& [text, cause] : kinds) {
    if (reason == text) return cause;
  }
  return HttpCause::none;
}

bool cancelled(const HttpRequest& request) {
  return request.cancel && request.cancel->cancelled();
}

std::chrono::seconds exchange_timeout(const HttpRequest& request) {
  return std::chrono::seconds(request.timeout_seconds > 0 ? request.timeout_seconds : 30);
}

bool Origin::operator==(const Origin& other) const {
  return scheme == other.scheme && lower(host) == lower(other.host) && port == other.port;
}

bool carries_body(const HttpRequest& request, const Leg& leg) {
  return leg.with_body && leg.method != kHttpHead &&
         (leg.method != kHttpGet || !request.post_data.empty());
}

bool streams_to_sink(const HttpRequest& request, const Leg& leg, long status,
                     const std::string& block) {
  if (leg.sink == nullptr) return false;
  bool may_follow =
      !request.no_redirect && status >= 300 && status <= 399 && !location_value(block).empty();
  return !may_follow;
}

Exchange follow_redirects(LegTransport& transport, const HttpRequest& request,
                          std::unique_ptr<LegAddress> address, const std::string& header_block,
                          const HttpStreamSink* sink) {
  const bool own_cookies = request.cookies.has_value();
  const OutgoingHeaders headers = split_header_block(header_block, own_cookies);
  if (!headers.valid) return failed(710);
  const Origin home = address->origin();
  ChainCookies cookies;
  if (own_cookies) cookies.of(home) = headers.cookie;

  const auto deadline = ExchangeClock::now() + kDeadlineFactor * exchange_timeout(request);
  bool known_method = request.method >= kHttpGet && request.method <= kHttpPut;
  Leg leg{std::move(address), known_method ? request.method : kHttpGet, true, sink};
  LegResponse response;
  std::vector<std::string> home_cookies;
  for (int redirects = 0;; ++redirects) {
    if (cancelled(request)) return failed(kHttpFailureCancelled, kReasonCancelled);
    const Origin& origin = leg.address->origin();
    bool on_origin = origin == home;
    std::string cookie = own_cookies ? cookies.of(origin) : std::string();
    response =
        transport.perform(leg, on_origin, lines_for_leg(headers, on_origin, cookie), deadline);
    if (request.no_redirect || !response.complete || response.failure != 0 ||
        response.status < 300 || response.status > 399) {
      break;
    }
    RedirectTarget target = transport.redirect_target(leg, response);
    if (!target.named) break;
    if (redirects == kMaxRedirects) return failed(712, kReasonRedirects);
    if (!target.address) {
      return failed(711, kReasonBadRedirect);
    }
    Leg next = redirected(leg, response.status, std::move(target.address));
    // The request body never goes to another origin: the redirect is the answer.
    if (next.address->origin() != home && carries_body(request, next)) break;
    if (own_cookies) {
      std::string received = cookies.take(origin, response.block);
      if (on_origin && !received.empty()) home_cookies.push_back(std::move(received));
    }
    leg = std::move(next);
  }
  // Whatever broke a transfer after the cancel, the caller asked for its end.
  if (response.failure != 0 && cancelled(request)) {
    return failed(kHttpFailureCancelled, kReasonCancelled);
  }
  if (response.failure != 0 && response.failure != kHttpFailureBodyRead) {
    return failed(response.failure, std::move(response.reason), response.cause);
  }
  if (sink != nullptr && !response.streamed) hand_to_sink(*sink, response);
  Exchange exchange;
  exchange.failure = response.failure;
  exchange.reason = std::move(response.reason);
  exchange.cause = response.cause;
  exchange.raw_headers = std::move(response.block);
  exchange.body = std::move(response.body);
  exchange.home_cookies = std::move(home_cookies);
  exchange.final_on_home = leg.address->origin() == home;
  if (sink != nullptr) exchange.final_url = leg.address->text();
  exchange.body_bytes = response.streamed_bytes;
  return exchange;
}

void TransferPace::restart() {
  last_progress_ = period_start_ = ExchangeClock::now();
  period_bytes_ = 0;
}

void TransferPace::moved(std::size_t bytes) {
  last_progress_ = ExchangeClock::now();
  period_bytes_ += bytes;
}

const char* TransferPace::check(bool floor_applies) {
  auto now = ExchangeClock::now();
  if (now - last_progress_ >= limit_) return kReasonStall;
  if (floor_applies && now - period_start_ >= limit_) {
    // A check may come well after the period's end (a transport that checks
    // between reads, or a busy machine): the floor is a byte a second over the
    // period's real length, so a period stretched by a late check cannot let
    // a slower server pass.
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - period_start_);
    if (period_bytes_ * 1000 < static_cast<std::uint64_t>(elapsed.count())) return kReasonSlow;
    period_start_ = now;
    period_bytes_ = 0;
  }
  return nullptr;
}

HttpCaLocations http_ca_locations() {
  std::lock_guard<std::mutex> lock(ca_mutex);
  if (!ca_locations) {
    ca_locations =
        HttpCaLocations{environment_value("SSL_CERT_FILE"), environment_value("SSL_CERT_DIR")};
  }
  return *ca_locations;
}

void set_http_ca_locations(HttpCaLocations locations) {
  std::lock_guard<std::mutex> lock(ca_mutex);
  ca_locations = std::move(locations);
}

bool append_within_limit(Bytes& body, const char* data, std::size_t length) {
  if (body.size() + length > kBodyLimit) {
    body.append(data, kBodyLimit - body.size());
    return false;
  }
  body.append(data, length);
  return true;
}

}  // namespace sharelink
