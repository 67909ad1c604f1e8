#include "sim/knobs.h"

#include <limits>

namespace sharelink::sim {
namespace {

constexpr const char* kEndpointNames[kEndpointCount] = {"page", "verify",   "captcha", "image",
                                                        "list", "download", "file"};
constexpr const char* kFaultNames[] = {"close",           "hang",       "http500",     "truncate",
                                       "malformed",       "errno_last", "huge",        "self_loop",
                                       "corrupt_captcha", "first_page", "bare_success"};

bool is_json_endpoint(Endpoint endpoint) {
  return endpoint == Endpoint::verify || endpoint == Endpoint::captcha ||
         endpoint == Endpoint::list || endpoint == Endpoint::download;
}

}  // namespace

bool FaultRule::selects(std::uint64_t count) const {
  if (nth > 0) return count == nth;
  if (every > 0) return count % every == 0;
  return true;
}

const char* endpoint_name(Endpoint endpoint) {
  return kEndpointNames[static_cast<std::size_t>(endpoint)];
}

std::optional<Endpoint> parse_endpoint(std::string_view name) {
  for (std::size_t i = 0; i < kEndpointCount; ++i) {
    if (name == kEndpointNames[i]) return static_cast<Endpoint>(i);
  }
  return std::nullopt;
}

const char* fault_kind_name(FaultKind kind) {
  return kFaultNames[static_cast<std::size_t>(kind)];
}

std::optional<FaultKind> parse_fault_kind(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kFaultNames); ++i) {
    if (name == kFaultNames[i]) return static_cast<FaultKind>(i);
  }
  return std::nullopt;
}

bool fault_fits(FaultKind kind, Endpoint endpoint) {
  switch (kind) {
    case FaultKind::malformed:
      return is_json_endpoint(endpoint) || endpoint == Endpoint::page;
    case FaultKind::errno_last:
    case FaultKind::bare_success:
      return is_json_endpoint(endpoint);
    case FaultKind::self_loop:
    case FaultKind::first_page:
      return endpoint == Endpoint::list;
    case FaultKind::corrupt_captcha:
      return endpoint == Endpoint::image;
    default:
      return true;
  }
}

bool parse_uint(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = c - '0';
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

bool parse_size(std::string_view text, std::uint64_t& value) {
  int shift = 0;
  if (!text.empty()) {
    const char unit = text.back();
    shift = unit == 'K' || unit == 'k'   ? 10
            : unit == 'M' || unit == 'm' ? 20
            : unit == 'G' || unit == 'g' ? 30
                                         : 0;
  }
  if (shift > 0) text.remove_suffix(1);
  if (!parse_uint(text, value) || value > (std::numeric_limits<std::uint64_t>::max() >> shift)) {
    return false;
  }
  value <<= shift;
  return true;
}

bool apply_content_option(std::string_view option, std::string_view value, ContentKnobs& knobs,
                          std::string& error) {
  error.clear();
  std::uint64_t* const target = option == "--rate"                   ? &knobs.rate
                                : option == "--connections-per-file" ? &knobs.connections_per_file
                                : option == "--link-lifetime"        ? &knobs.link_lifetime_seconds
                                : option == "--drop-after"           ? &knobs.drop_after
                                : option == "--short-by"             ? &knobs.short_by
                                                                     : nullptr;
  if (option == "--ignore-range") {
    knobs.ignore_range = true;
    return true;
  }
  if (target == nullptr) return false;
  if (!parse_size(value, *target)) {
    error = std::string(option) + " needs a number (K, M or G suffix allowed), not '" +
            std::string(value) + "'";
    return false;
  }
  return true;
}

std::optional<FaultRule> parse_fault(std::string_view written, std::string& error) {
  error.clear();
  const std::string text(written);
  const auto colon = written.find(':');
  if (colon == std::string_view::npos) {
    error = "fault '" + text + "' is not ENDPOINT:KIND[@N|@everyK]";
    return std::nullopt;
  }
  const auto at = written.find('@', colon);
  const auto endpoint = parse_endpoint(written.substr(0, colon));
  const auto kind =
      parse_fault_kind(written.substr(colon + 1, at == written.npos ? at : at - colon - 1));
  if (!endpoint || !kind) {
    error = "fault '" + text + "' names an unknown endpoint or kind";
    return std::nullopt;
  }
  FaultRule rule{*endpoint, *kind, 0, 0};
  if (at != std::string_view::npos) {
    std::string_view when = written.substr(at + 1);
    const bool every = when.substr(0, 5) == "every";
    if (every) when.remove_prefix(5);
    std::uint64_t n = 0;
    if (!parse_uint(when, n) || n == 0) {
      error = "fault '" + text + "' has no request number after '@'";
      return std::nullopt;
    }
    (every ? rule.every : rule.nth) = n;
  }
  if (!fault_fits(rule.kind, rule.endpoint)) {
    error = std::string("fault ") + fault_kind_name(rule.kind) + " does not apply to endpoint " +
            endpoint_name(rule.endpoint);
    return std::nullopt;
  }
  return rule;
}

std::string fault_text(const FaultRule& rule) {
  std::string written =
      std::string(endpoint_name(rule.endpoint)) + ":" + fault_kind_name(rule.kind);
  if (rule.nth > 0) written += "@" + std::to_string(rule.nth);
  if (rule.every > 0) written += "@every" + std::to_string(rule.every);
  return written;
}

bool parse_latency(std::string_view written, Knobs& knobs, std::string& error) {
  error.clear();
  const auto equals = written.find('=');
  std::uint64_t ms = 0;
  const std::string_view number = equals == written.npos ? written : written.substr(equals + 1);
  if (!parse_uint(number, ms) || ms > kLongestDelayMs) {
    error = "latency '" + std::string(written) + "' is not MS or ENDPOINT=MS (at most an hour)";
    return false;
  }
  if (equals == written.npos) {
    knobs.latency_ms = static_cast<std::uint32_t>(ms);
    return true;
  }
  const auto endpoint = parse_endpoint(written.substr(0, equals));
  if (!endpoint) {
    error = "latency '" + std::string(written) + "' names an unknown endpoint";
    return false;
  }
  knobs.endpoint_latency_ms[static_cast<std::size_t>(*endpoint)] = static_cast<std::uint32_t>(ms);
  return true;
}

}  // namespace sharelink::sim
