// decode_png: a captcha picture as the service sends it, through libpng's
// simplified API. Input: the file.

#include <cstddef>
#include <cstdint>

#include "fuzz/picture_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sharelink::fuzz::check_decoder(sharelink::decode_png, data, size);
  return 0;
}
