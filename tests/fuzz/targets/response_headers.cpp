// The HTTP layer's header work: a received block read as an exchange reads it
// (status, Set-Cookie lines folded into the session's cookies, Location made
// absolute and escaped for the next request, the Content-Type charset), and a
// caller's header block cut into the lines each request of a chain sends.
// Input: the received block, a zero byte, the caller's block.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "http/cookies.h"
#include "http/http_message.h"
#include "share/reply_text.h"
#include "share/request_params.h"
#include "text/local_text.h"

namespace sharelink {
namespace {

bool names(const std::string& line, const char* name) {
  const std::string upper = ascii_upper(line.substr(0, line.find_first_of(":;")));
  return upper == ascii_upper(name);
}

void read_received(std::string block) {
  const std::string status = status_from_headers(block);
  FUZZ_CHECK(status.find("\r\n") == std::string::npos);
  content_type_charset(block);

  std::string set_cookies;
  std::string location;
  read_header_lines(block, set_cookies, location);
  FUZZ_CHECK(location.find("\r\n") == std::string::npos);
  std::string cookies = "BAIDUID=1; BDCLND=x%2B";
  merge_cookies(cookies, set_cookies);

  // The next request of a redirect, as ShareClient follows one.
  const std::string base = "http://127.0.0.1:8080/share/init?surl=1AbC";
  const std::string next = resolve_location(base, location);
  origin_of(next);
  text_between(next, "shareid=", "&");
  text_between(next + "&", "uk=", "&");
  has_empty_path(next);
  const std::string sent = escape_address(next);
  const std::size_t scheme = sent.find("://");
  if (scheme != std::string::npos) {
    // After the host part nothing goes out that an address may not hold.
    const std::size_t path = sent.find_first_of("/?#", scheme + 3);
    for (std::size_t i = path == std::string::npos ? sent.size() : path; i < sent.size(); ++i) {
      const auto c = static_cast<unsigned char>(sent[i]);
      FUZZ_CHECK(c > 0x20 && c < 0x7F);
    }
  }
}

void send_lines(const std::string& caller_block) {
  const std::string block = build_header_block(caller_block, "A=1");
  for (const bool own_cookies : {false, true}) {
    const OutgoingHeaders headers = split_header_block(block, own_cookies);
    if (!headers.valid) continue;
    FUZZ_CHECK(headers.cookie_at <= headers.lines.size());
    for (const std::string& line : headers.lines) {
      // A line break inside a line would start a header of the sender's choosing.
      FUZZ_CHECK(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    }
    // Another origin never gets what speaks for the caller.
    for (const std::string& line : lines_for_leg(headers, false, "")) {
      FUZZ_CHECK(!names(line, "Cookie") && !names(line, "Authorization") && !names(line, "Host"));
    }
    const std::vector<std::string> own = lines_for_leg(headers, true, "B=2");
    FUZZ_CHECK(own.size() == headers.lines.size() + 1);
    FUZZ_CHECK(own[headers.cookie_at] == "Cookie: B=2");
  }
}

}  // namespace
}  // namespace sharelink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = sharelink::fuzz::split_input(data, size, 2);
  sharelink::read_received(parts[0]);
  sharelink::send_lines(parts[1]);
  return 0;
}
