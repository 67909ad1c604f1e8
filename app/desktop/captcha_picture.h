#pragma once

// Captcha pictures as the service sends them (PNG, JPEG or GIF files) decoded into
// plain RGB pixels for the picture box. Decoding is our own, on top of libpng and
// libjpeg, so that a truncated or hostile file can never make us read past its
// bytes: anything we cannot decode whole gives no picture.

#include <cstddef>
#include <vector>

#include "text/local_text.h"

namespace sharelink {

// Larger pictures are refused before any pixel is decoded: a captcha is a small
// strip, and a header claiming more is either broken or an attempt to make us
// allocate without bound.
constexpr int kMaxPictureSide = 1024;
// More scans than this in a JPEG file are refused before decoding.
constexpr std::size_t kMaxJpegScans = 1000;

// Start-of-scan markers in a JPEG file. A progressive JPEG is decoded once per
// scan: a million tiny scans would keep a decoder busy for minutes. Inside
// entropy-coded data a 0xFF byte is followed by 0 or a restart marker, so every
// FF DA pair is a scan of its own.
inline std::size_t jpeg_scans(const Bytes& bytes) {
  std::size_t scans = 0;
  for (std::size_t at = bytes.find("\xff\xda"); at != Bytes::npos;
       at = bytes.find("\xff\xda", at + 2))
    ++scans;
  return scans;
}

struct Picture {
  int width = 0;
  int height = 0;
  // Row by row, three bytes (R, G, B) a pixel; transparent parts lie on white.
  std::vector<unsigned char> rgb;

  bool empty() const { return rgb.empty(); }
};

// The picture in bytes, or an empty one when the bytes are not a complete PNG,
// JPEG or GIF file of at most kMaxPictureSide pixels a side.
Picture decode_picture(const Bytes& bytes);

Picture decode_png(const Bytes& bytes);
Picture decode_jpeg(const Bytes& bytes);
Picture decode_gif(const Bytes& bytes);

}  // namespace sharelink
