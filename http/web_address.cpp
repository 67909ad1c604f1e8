#include "http/web_address.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

#include "http/http_message.h"
#include "text/local_text.h"

namespace sharelink {
namespace {

bool is_alpha(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// The blanks libcurl trims from a header value.
bool is_blank(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The length of the scheme before the ":" that ends it, 0 when text starts
// with none. As libcurl 7.88 reads it, a scheme may start with a digit, a
// "+", "-" or "." (and then is none that can be requested).
std::size_t scheme_length(const std::string& text) {
  constexpr std::size_t kLongest = 40;
  for (std::size_t i = 0; i < text.size() && i < kLongest; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == ':') return i;
    if (!is_alpha(c) && !is_digit(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

std::string percent_decoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_digit_value(text[i + 1]) >= 0 &&
        hex_digit_value(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit_value(text[i + 1]) * 16 + hex_digit_value(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// RFC 3986's removal of "." and ".." segments, as libcurl applies it to every
// path it requests.
std::string without_dot_segments(std::string input) {
  std::string output;
  while (!input.empty()) {
    if (input.compare(0, 3, "../") == 0) {
      input.erase(0, 3);
    } else if (input.compare(0, 2, "./") == 0 || input.compare(0, 3, "/./") == 0) {
      input.erase(0, 2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.compare(0, 4, "/../") == 0 || input == "/..") {
      input = input == "/.." ? "/" : input.substr(3);
      std::size_t last = output.rfind('/');
      output.erase(last == std::string::npos ? 0 : last);
    } else if (input == "." || input == "..") {
      input.clear();
    } else {
      std::size_t next = input.find('/', 1);
      if (next == std::string::npos) next = input.size();
      output += input.substr(0, next);
      input.erase(0, next);
    }
  }
  return output;
}

// A host name of the characters libcurl lets through, or a bracketed IPv6
// address; bytes outside ASCII pass for international names.
bool valid_host(const std::string& host) {
  if (host.empty()) return false;
  if (host.front() == '[') {
    if (host.size() < 4 || host.back() != ']') return false;
    for (std::size_t i = 1; i + 1 < host.size(); ++i) {
      auto c = static_cast<unsigned char>(host[i]);
      if (!is_digit(c) && !std::strchr("abcdefABCDEF:.", c)) return false;
    }
    return true;
  }
  for (unsigned char c : host) {
    if (c <= 0x20 || c == 0x7F || std::strchr("/:#?!@{}[]\\$'\"^`*<>=;,+&()%|", c)) return false;
  }
  return true;
}

// Splits "host[:port]" (or "[v6][:port]"); false when either part is bad.
bool split_host_port(const std::string& text, const std::string& scheme, WebAddress& out) {
  std::size_t colon = text.rfind(':');
  if (!text.empty() && text.front() == '[') {
    std::size_t close = text.find(']');
    colon = close != std::string::npos && close + 1 < text.size() ? close + 1 : std::string::npos;
    if (colon != std::string::npos && text[colon] != ':') return false;
  }
  out.host = text.substr(0, colon);
  out.port = scheme == "https" ? 443 : 80;
  if (colon != std::string::npos && colon + 1 < text.size()) {
    std::string digits = text.substr(colon + 1);
    if (digits.size() > 5) return false;
    long port = 0;
    for (unsigned char c : digits) {
      if (!is_digit(c)) return false;
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return false;
    out.port = static_cast<int>(port);
  }
  return valid_host(out.host);
}

// Where the host part that starts at from ends: at the path, query or fragment.
std::size_t end_of_host(const std::string& text, std::size_t from) {
  return std::min(text.find_first_of("/?#", from), text.size());
}

// libcurl's escaping of a redirect target it follows: a space as %20 before
// the query and + in it, a byte outside ASCII as %XX; from start on only.
std::string escaped_target(const std::string& text, std::size_t start) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = text.substr(0, start);
  bool in_query = false;
  for (std::size_t i = start; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '?') in_query = true;
    if (c == ' ') {
      out += in_query ? "+" : "%20";
    } else if (c >= 0x80) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string WebAddress::text() const {
  std::string out = scheme + "://";
  if (!userinfo.empty()) out += userinfo + "@";
  out += host;
  if (port != (scheme == "https" ? 443 : 80)) out += ":" + std::to_string(port);
  return out + target;
}

std::optional<WebAddress> parse_web_address(const std::string& address) {
  for (unsigned char c : address) {
    if (c <= 0x20 || c == 0x7F) return std::nullopt;
  }
  std::size_t scheme_end = scheme_length(address);
  if (scheme_end == 0) return std::nullopt;
  WebAddress out;
  out.scheme = lower(address.substr(0, scheme_end));
  if (out.scheme != "http" && out.scheme != "https") return std::nullopt;
  std::size_t at = scheme_end + 1;
  std::size_t slashes = 0;
  while (at < address.size() && address[at] == '/') {
    ++at;
    ++slashes;
  }
  if (slashes < 1 || slashes > 3) return std::nullopt;

  std::size_t authority_end = address.find_first_of("/?#", at);
  if (authority_end == std::string::npos) authority_end = address.size();
  std::string authority = address.substr(at, authority_end - at);
  std::size_t sign = authority.find('@');
  if (sign != std::string::npos) {
    // A second "@" leaves no host name libcurl would take.
    if (authority.find('@', sign + 1) != std::string::npos) return std::nullopt;
    out.userinfo = authority.substr(0, sign);
    std::size_t colon = out.userinfo.find(':');
    out.user = percent_decoded(out.userinfo.substr(0, colon));
    if (colon != std::string::npos) out.password = percent_decoded(out.userinfo.substr(colon + 1));
    authority.erase(0, sign + 1);
  }
  if (!split_host_port(authority, out.scheme, out)) return std::nullopt;

  std::size_t fragment = address.find('#', authority_end);
  std::string rest = address.substr(authority_end, fragment - authority_end);
  std::size_t query = rest.find('?');
  std::string path = without_dot_segments(rest.substr(0, query));
  if (path.empty() || path[0] != '/') path.insert(0, "/");
  // As libcurl, an empty query is no query.
  bool has_query = query != std::string::npos && query + 1 < rest.size();
  out.target = path + (has_query ? rest.substr(query) : std::string());
  return out;
}

std::string location_value(const std::string& header_block) {
  for (const std::string& line : split_text(header_block, "\r\n")) {
    if (line.size() < 9 || ascii_upper(line.substr(0, 9)) != "LOCATION:") continue;
    std::size_t begin = 9;
    std::size_t end = line.size();
    while (begin < end && is_blank(static_cast<unsigned char>(line[begin])))
      ++begin;
    while (end > begin && is_blank(static_cast<unsigned char>(line[end - 1])))
      --end;
    if (end > begin) return line.substr(begin, end - begin);
  }
  return std::string();
}

std::optional<WebAddress> resolve_location(const WebAddress& base, const std::string& location) {
  // The scheme and host of a value that names them are kept as written.
  std::size_t scheme_end = scheme_length(location);
  if (scheme_end != 0) {
    std::size_t host = location.find_first_not_of('/', scheme_end + 1);
    return parse_web_address(escaped_target(location, end_of_host(location, host)));
  }
  bool names_host = location.compare(0, 2, "//") == 0;
  std::string relative = escaped_target(location, names_host ? end_of_host(location, 2) : 0);
  if (relative.empty()) return std::nullopt;
  std::string origin = base.text().substr(0, base.text().size() - base.target.size());
  std::string resolved;
  if (relative.compare(0, 2, "//") == 0) {
    resolved = base.scheme + ":" + relative;
  } else if (relative[0] == '/') {
    resolved = origin + relative;
  } else if (relative[0] == '?') {
    resolved = origin + base.target.substr(0, base.target.find('?')) + relative;
  } else {
    // A fragment alone is taken as a relative path, as libcurl takes it.
    std::string path = base.target.substr(0, base.target.find('?'));
    resolved = origin + path.substr(0, path.rfind('/') + 1) + relative;
  }
  return parse_web_address(resolved);
}

std::string origin_key(const std::string& address) {
  std::optional<WebAddress> parts = parse_web_address(escape_address(address));
  if (!parts) return std::string();
  return parts->scheme + "://" + lower(parts->host) + ":" + std::to_string(parts->port);
}

}  // namespace sharelink
