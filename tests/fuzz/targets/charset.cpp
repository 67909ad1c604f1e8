// The charset step of every response: the meta tag in the first 1024 bytes or
// the Content-Type charset picks the decoder (response_text), recode_by_charset
// turns the body into local text, and the converters behind it. Their table
// paths must give exactly what the general iconv path gives. Input: a charset
// name, a zero byte, the body.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "http/http_message.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sharelink;
  const auto parts = fuzz::split_input(data, size, 2);
  const std::string& charset = parts[0];
  const std::string& body = parts[1];

  const std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=" + charset +
                              "\r\nContent-Length: 1\r\n";
  const std::string text = response_text(body, headers);
  FUZZ_CHECK(text.find('\0') == std::string::npos);
  response_text(body, "HTTP/1.1 200 OK\r\n");

  const std::optional<std::string> recoded = recode_by_charset(body, charset);
  const std::string upto_zero = until_zero(body);
  // The reply path reads UTF-8 through the table; pages go through iconv.
  // Both give the same text (a leading byte-order mark aside).
  if (recoded && (charset == "utf-8" || charset == "UTF-8") && upto_zero == body &&
      body.compare(0, 3, "\xEF\xBB\xBF") != 0) {
    FUZZ_CHECK(*recoded == utf8_to_gbk(body));
  }

  // The table paths against the general one, both ways.
  FUZZ_CHECK(utf8_to_gbk(body) ==
             encode_from_utf16(decode_to_utf16(body, kCodePageUtf8), kCodePageGbk));
  FUZZ_CHECK(gbk_to_utf8(body) == encode_from_utf16(gbk_to_utf16(body, true), kCodePageUtf8));

  // Exact conversions are exact: local text that converts comes back whole.
  std::string utf8;
  if (append_utf8_of_local(body, utf8)) {
    std::string back;
    FUZZ_CHECK(append_local_of_utf8(utf8, back));
    FUZZ_CHECK(back == body);
  }
  std::string local;
  if (append_local_of_utf8(body, local)) {
    std::string back;
    FUZZ_CHECK(append_utf8_of_local(local, back));
    FUZZ_CHECK(back == body);
  }

  utf16_to_gbk(body);
  encode_from_utf16(body, kCodePageUtf8);
  decode_to_utf16(body, 950);
  return 0;
}
