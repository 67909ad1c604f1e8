#pragma once

// http and https addresses taken apart for a transport that is handed host,
// port and target separately (WinHTTP), read as libcurl reads them, so that
// both transports request the same address and judge the same origin.

#include <optional>
#include <string>

namespace sharelink {

struct WebAddress {
  std::string scheme;    // "http" or "https"
  std::string userinfo;  // as written, without its "@"; empty when none
  std::string user;      // userinfo before its first ":", percent-decoded
  std::string password;  // userinfo after its first ":", percent-decoded
  std::string host;      // as written; an IPv6 address with its brackets
  int port = 0;          // the scheme's default when the address names none
  // What goes on the request line: the path with its dot segments removed
  // ("/" at least), then the query; never the fragment.
  std::string target;

  // The address again, without its fragment.
  std::string text() const;
};

// Takes apart an absolute http or https address in which the caller escaped
// what needs escaping; nullopt when it is none, or holds a control character
// or a space. As libcurl, one to three slashes may follow the scheme.
std::optional<WebAddress> parse_web_address(const std::string& address);

// "scheme://host:port" of an http or https address (escaped as a request
// escapes it), the host in lower case and the port always named, so that every
// spelling of one origin gives one text; "" for any other address.
std::string origin_key(const std::string& address);

// The value of the first Location line of a response's header block that has
// one, trimmed of blanks as libcurl trims it; "" when there is none.
std::string location_value(const std::string& header_block);

// The address a Location value names, relative to base, escaped as libcurl
// escapes a redirect target it follows (spaces, control characters and bytes
// outside ASCII of a relative value; spaces and bytes outside ASCII of an
// absolute one, where a control character is malformed); nullopt when it
// cannot be parsed or is not http or https.
std::optional<WebAddress> resolve_location(const WebAddress& base, const std::string& location);

}  // namespace sharelink
