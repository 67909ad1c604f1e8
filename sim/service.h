#pragma once

// The service's behaviour, apart from the HTTP transport: one request in, one
// reply out. Requests are checked the way the real service is strict; a
// violation is refused with errno 2 and named in Reply::violation.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/checks.h"
#include "sim/fixture.h"
#include "sim/knobs.h"
#include "sim/state.h"
#include "sim/tokens.h"

namespace sharelink::sim {

struct Incoming {
  std::string method;
  std::string path;   // raw, without the query
  std::string query;  // raw, as sent
  std::string body;
  std::string scheme = "http";  // "https" when it came over TLS
  std::string host;             // the Host line
  std::string cookie;
  std::string referer;
  std::string content_type;
  std::string user_agent;

  // Every absolute address the service writes starts with it.
  std::string origin() const { return scheme + "://" + host; }
};

struct Reply {
  int status = 200;
  std::string content_type = "text/html; charset=utf-8";
  std::string body;
  std::optional<nlohmann::ordered_json> json;  // a JSON reply, written out by Service::finish
  std::vector<std::pair<std::string, std::string>> headers;
  std::string violation;
};

// The file a download link names, checked as the content servers check it.
struct LinkedFile {
  const Entry* file = nullptr;  // null when refused
  std::string violation;        // not a link the service gave, another User-Agent, expired
  bool expired = false;         // the link was the service's, but is past its lifetime
};

// A request as it comes in, before its latency. A download-link request of a
// share with an in-flight limit counts as under way from here until
// Service::depart().
struct Arrival {
  std::optional<std::size_t> share;  // the share whose count holds it
  bool over_limit = false;           // the limit was reached before it came
};

class Service {
 public:
  explicit Service(Fixture fixture);

  const Fixture& fixture() const { return fixture_; }
  SimState& state() { return state_; }

  // The endpoint a request counts at; none for test hooks and unknown addresses.
  static std::optional<Endpoint> classify(std::string_view path);

  // fault: the injected fault of this request, for those that shape the content
  // (malformed page, self_loop, first_page, bare_success, corrupt_captcha); the
  // others are the transport's.
  Reply handle(Endpoint endpoint, const Incoming& in, std::optional<FaultKind> fault,
               const Arrival& arrival = {});

  Arrival arrive(Endpoint endpoint, const Incoming& in);
  void depart(const Arrival& arrival);

  // The /__sim/ addresses for tests and scripts; nullopt for any other address.
  std::optional<Reply> handle_hook(const Incoming& in);

  // Writes a JSON reply into its body in the service's style.
  void finish(Reply& reply) const;

  // Where download links send their clients ("http://HOST:PORT"); set before serving.
  void set_content_origin(std::string origin) { content_origin_ = std::move(origin); }
  // The link's parameters (fid, sh, time, sign) as the service wrote them and
  // the User-Agent of the request that holds them.
  LinkedFile linked_file(const std::vector<Param>& query, const std::string& user_agent);

 private:
  Reply page(const Incoming& in, std::optional<FaultKind> fault);
  Reply verify(const Incoming& in);
  Reply captcha(const Incoming& in);
  Reply image(const Incoming& in, std::optional<FaultKind> fault);
  Reply list(const Incoming& in, std::optional<FaultKind> fault);
  Reply download(const Incoming& in, bool over_limit);
  Reply file(const Incoming& in);

  Reply json_reply(int errno_value, nlohmann::ordered_json members = {});
  Reply refuse(std::string violation);
  std::size_t index_of(const Share& share) const;
  bool unlocked(const Share& share, std::string_view cookie_header) const;
  // The share named by two decimal parameters, or nullptr.
  const Share* share_by(std::string_view shareid, std::string_view uk) const;
  std::string check_post(const Incoming& in, const Share& share) const;

  Fixture fixture_;
  Tokens tokens_;
  SimState state_;
  std::vector<std::vector<std::size_t>> sorted_top_;  // per share, by name descending
  std::string content_origin_;
};

std::uint64_t unix_seconds();

}  // namespace sharelink::sim
