#pragma once

// What can be turned on the simulator besides its shares: latency and injected
// faults, per endpoint and per n-th request. The same spelling serves the
// command line and the fixture files.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sharelink::sim {

// The service calls as the simulator counts them; `file` is the GET of a
// download link, `image` the GET of a captcha picture.
enum class Endpoint { page, verify, captcha, image, list, download, file };
constexpr std::size_t kEndpointCount = 7;

enum class FaultKind {
  close,            // the connection is closed without an answer
  hang,             // no answer until the server stops or hang_ms passes
  http500,          // status 500 with a short HTML body
  truncate,         // half the body, then the connection is closed
  malformed,        // a JSON reply (or a page's data object) cut short
  errno_last,       // the errno member moved to the end of the reply
  huge,             // the reply padded to huge_bytes, streamed
  self_loop,        // a folder listing names the folder itself as a sub-folder
  corrupt_captcha,  // a captcha picture with garbage after its signature
  first_page,       // a folder listing answers its first page whatever page is asked
  bare_success,     // a JSON reply of success holds errno and request_id only
};

// nth > 0: only the nth request to the endpoint; every > 0: each every-th
// request; neither: every request. Counting starts at 1 with the server.
struct FaultRule {
  Endpoint endpoint = Endpoint::page;
  FaultKind kind = FaultKind::http500;
  std::uint64_t nth = 0;
  std::uint64_t every = 0;

  bool selects(std::uint64_t count) const;
};

// The longest delay any knob takes: an hour.
inline constexpr std::uint64_t kLongestDelayMs = 3600000;

// How the content host serves the files behind the download links.
struct ContentKnobs {
  std::uint64_t rate = 0;                  // bytes per second per response; 0: as fast as it goes
  std::uint64_t connections_per_file = 0;  // responses of one file at once, more get 503; 0: any
  std::uint64_t link_lifetime_seconds = 8 * 3600;  // a link this old gets 403, as does its content
  std::uint64_t drop_after = 0;  // each body's connection closed after that many bytes; 0: never
  bool ignore_range = false;     // ranged requests get 200 and the whole file
  std::uint64_t short_by = 0;    // files hold that many bytes fewer than listed
};

struct Knobs {
  std::uint32_t latency_ms = 0;  // every counted request
  // Once per new connection, before its first request is read: stands for the
  // TCP and TLS handshakes of a real network.
  std::uint32_t connect_latency_ms = 0;
  std::array<std::uint32_t, kEndpointCount> endpoint_latency_ms{};
  std::vector<FaultRule> faults;
  std::uint32_t hang_ms = 120000;
  std::uint64_t huge_bytes = 100ull << 20;
  ContentKnobs content;
};

const char* endpoint_name(Endpoint endpoint);
std::optional<Endpoint> parse_endpoint(std::string_view name);
const char* fault_kind_name(FaultKind kind);
std::optional<FaultKind> parse_fault_kind(std::string_view name);

// Whether the fault makes sense on the endpoint (errno_last and bare_success
// need a JSON reply, self_loop and first_page a listing, corrupt_captcha a
// picture).
bool fault_fits(FaultKind kind, Endpoint endpoint);

// "ENDPOINT:KIND", "ENDPOINT:KIND@N" or "ENDPOINT:KIND@everyK". Empty error on
// success.
std::optional<FaultRule> parse_fault(std::string_view written, std::string& error);
std::string fault_text(const FaultRule& rule);

// "MS" for every request or "ENDPOINT=MS" for one endpoint.
bool parse_latency(std::string_view written, Knobs& knobs, std::string& error);

// Decimal digits only, no sign, no overflow.
bool parse_uint(std::string_view text, std::uint64_t& value);
// The same with an optional K, M or G suffix (2M = 2 MiB).
bool parse_size(std::string_view text, std::uint64_t& value);

// Sets the content knob the option names ("--rate", "--drop-after"...) from
// its text; empty error when done, false without error for another option.
bool apply_content_option(std::string_view option, std::string_view value, ContentKnobs& knobs,
                          std::string& error);

}  // namespace sharelink::sim
