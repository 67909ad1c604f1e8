// percent_decode in both modes, and percent_encode, whose output the service
// decodes again. Input: the text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "share/request_params.h"
#include "text/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sharelink;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string bytes = percent_decode(text);
  FUZZ_CHECK(bytes.size() <= text.size());
  if (text.find('%') == std::string::npos) FUZZ_CHECK(bytes == text);

  // The decoded path is handed on as text: it never holds a zero byte, which
  // would cut it short.
  const std::string local = percent_decode(text, true);
  FUZZ_CHECK(local.find('\0') == std::string::npos);

  // Local text without zero bytes that converts exactly comes back as it went.
  std::string utf8;
  if (text.find('\0') == std::string::npos && append_utf8_of_local(text, utf8)) {
    const std::string encoded = percent_encode(text);
    FUZZ_CHECK(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                         "0123456789-_.~%") == std::string::npos);
    FUZZ_CHECK(percent_decode(encoded, true) == text);
  }
  return 0;
}
