#pragma once

// What every captcha decoder promises: a picture within the side limit with
// exactly its pixels, or no picture; decode_picture, which picks a decoder by
// the file's signature, gives the same picture.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/desktop/captcha_picture.h"
#include "fuzz/fuzz_support.h"

namespace sharelink::fuzz {

inline void check_decoder(Picture (*decode)(const Bytes&), const std::uint8_t* data,
                          std::size_t size) {
  const Bytes bytes(reinterpret_cast<const char*>(data), size);
  const Picture picture = decode(bytes);
  if (picture.empty()) {
    FUZZ_CHECK(picture.rgb.empty());
  } else {
    FUZZ_CHECK(picture.width >= 1 && picture.width <= kMaxPictureSide);
    FUZZ_CHECK(picture.height >= 1 && picture.height <= kMaxPictureSide);
    FUZZ_CHECK(picture.rgb.size() == static_cast<std::size_t>(picture.width) * picture.height * 3);
  }
  const Picture chosen = decode_picture(bytes);
  if (!chosen.empty() && !picture.empty()) {
    FUZZ_CHECK(chosen.width == picture.width && chosen.height == picture.height);
    FUZZ_CHECK(chosen.rgb == picture.rgb);
  }
}

}  // namespace sharelink::fuzz
