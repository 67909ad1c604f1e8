#pragma once

// The text work of an HTTP exchange that needs no network: building the request
// header block and the address as sent, and reading a response header block.

#include <string>
#include <vector>

namespace sharelink {

// The caller's lines followed by the default rows their search texts did not
// find, each line ending in CR LF. cookies is the Cookie row's text ("" when the
// caller has none).
std::string build_header_block(const std::string& headers, const std::string& cookies);

// The header block cut into the lines handed to the transport.
struct OutgoingHeaders {
  bool valid = true;  // false: a line without a name and colon, or with a stray CR/LF
  std::vector<std::string> lines;
  // With the cookie engine on, the values of the block's Cookie lines, which the
  // transport sends in one line together with the engine's cookies.
  std::string cookie;
};
OutgoingHeaders split_header_block(const std::string& block, bool cookie_engine);

// url with every byte outside the address alphabet after the host part (space,
// controls, non-ASCII, "<>\"\\^`{|}") percent-escaped; non-ASCII local text is
// escaped as its UTF-8 bytes.
std::string escape_address(const std::string& url);

// True when nothing but a query or fragment follows the host part.
bool has_empty_path(const std::string& url);

// The status line from its 10th character to its end: "302 Found".
std::string status_from_headers(const std::string& response_headers);

// Rewrites every spelling of "Set-Cookie" in response_headers as "Set-Cookie",
// then appends the name=value of each Set-Cookie line to set_cookies (joined by
// "; ") and sets location from the last "Location: " line.
void read_header_lines(std::string& response_headers, std::string& set_cookies,
                       std::string& location);

// The charset parameter of the block's Content-Type line, unquoted; "" if none.
std::string content_type_charset(const std::string& response_headers);

}  // namespace sharelink
