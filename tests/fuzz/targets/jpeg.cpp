// decode_jpeg: a captcha picture as the service sends it, through libjpeg with
// its error jumps, warnings and the scan limit. Input: the file.

#include <cstddef>
#include <cstdint>

#include "fuzz/picture_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sharelink::fuzz::check_decoder(sharelink::decode_jpeg, data, size);
  return 0;
}
