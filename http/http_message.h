#pragma once

// The text work of an HTTP exchange that needs no network: building the request
// header block and the address as sent, and reading a response header block.

#include <string>
#include <vector>

namespace sharelink {

// The User-Agent the default rows send.
std::string default_user_agent();

// The caller's lines followed by the default rows their search texts did not
// find, each line ending in CR LF. cookies is the Cookie row's text ("" when the
// caller has none).
std::string build_header_block(const std::string& headers, const std::string& cookies);

// The header block cut into the lines handed to the transport.
struct OutgoingHeaders {
  bool valid = true;  // false: a line without a name and colon, or with a stray CR/LF
  std::vector<std::string> lines;
  // With own_cookies, the values of the block's Cookie lines joined by "; ",
  // which the transport sends as one line whose value grows by the cookies set
  // on the way through redirects; the lines themselves are left out of lines.
  std::string cookie;
  // Where in lines that Cookie line goes: where the block's first Cookie line
  // stood, else after the block's own lines (the Cookie row is the block's last).
  std::size_t cookie_at = 0;
};
OutgoingHeaders split_header_block(const std::string& block, bool own_cookies);

// The lines of one request of an exchange: cookie (when non-empty) as a Cookie
// line at headers.cookie_at; on a request to another origin than the address's,
// without the lines that speak for the caller there (Authorization, Cookie, Host).
std::vector<std::string> lines_for_leg(const OutgoingHeaders& headers, bool on_origin,
                                       const std::string& cookie);

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

// The body as local text, up to its first zero byte: re-decoded from the charset
// a meta tag in its first 1024 bytes names or, without such a tag, the charset of
// the block's Content-Type line; "gbk" and "gb2312" bodies are local text already.
std::string response_text(const std::string& body, const std::string& response_headers);

}  // namespace sharelink
