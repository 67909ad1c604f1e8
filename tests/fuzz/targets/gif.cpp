// decode_gif: a captcha picture as the service sends it, through our own
// block reader and LZW decoder. Input: the file.

#include <cstddef>
#include <cstdint>

#include "fuzz/picture_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sharelink::fuzz::check_decoder(sharelink::decode_gif, data, size);
  return 0;
}
