// The first image of a GIF file, on a white canvas of the file's screen size.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/desktop/captcha_picture.h"

namespace sharelink {

namespace {

// Reads bytes with bounds checks: every read past the end fails the decode
// instead of reading on.
class Reader {
 public:
  explicit Reader(const Bytes& bytes) : bytes_(bytes) {}
  bool byte(int& value) {
    if (pos_ >= bytes_.size()) return false;
    value = static_cast<unsigned char>(bytes_[pos_++]);
    return true;
  }
  bool word(int& value) {
    int low = 0, high = 0;
    if (!byte(low) || !byte(high)) return false;
    value = low | (high << 8);
    return true;
  }
  bool skip(std::size_t count) {
    if (bytes_.size() - pos_ < count) return false;
    pos_ += count;
    return true;
  }
  // The data sub-blocks that follow, each a length byte and that many bytes, up
  // to the empty block.
  bool sub_blocks(std::string* out) {
    for (int length = 0;;) {
      if (!byte(length)) return false;
      if (length == 0) return true;
      if (bytes_.size() - pos_ < static_cast<std::size_t>(length)) return false;
      if (out) out->append(bytes_, pos_, length);
      pos_ += length;
    }
  }

 private:
  const Bytes& bytes_;
  std::size_t pos_ = 0;
};

using Palette = std::vector<std::array<unsigned char, 3>>;

bool read_palette(Reader& in, int flags, Palette& palette) {
  if (!(flags & 0x80)) return true;
  palette.resize(std::size_t{2} << (flags & 7));
  for (auto& colour : palette) {
    for (unsigned char& part : colour) {
      int value = 0;
      if (!in.byte(value)) return false;
      part = static_cast<unsigned char>(value);
    }
  }
  return true;
}

// Variable-width LZW as GIF uses it: codes of 3 to 12 bits, least significant
// bit first. Fills exactly pixels.size() indexes; false on any broken code or
// when the data ends early.
bool decompress(const std::string& data, int min_bits, std::vector<unsigned char>& pixels) {
  if (min_bits < 2 || min_bits > 8) return false;
  const int clear = 1 << min_bits;
  const int end = clear + 1;
  std::array<std::uint16_t, 4096> prefix{};
  std::array<unsigned char, 4096> suffix{};
  std::array<unsigned char, 4097> stack{};
  for (int i = 0; i < clear; ++i)
    suffix[i] = static_cast<unsigned char>(i);
  int bits = min_bits + 1, next = clear + 2, previous = -1;
  unsigned char first = 0;
  std::size_t out = 0, bit_pos = 0;
  while (out < pixels.size()) {
    if (bit_pos + bits > data.size() * 8) return false;
    int code = 0;
    for (int i = 0; i < bits; ++i, ++bit_pos) {
      code |= ((static_cast<unsigned char>(data[bit_pos / 8]) >> (bit_pos % 8)) & 1) << i;
    }
    if (code == clear) {
      bits = min_bits + 1;
      next = clear + 2;
      previous = -1;
      continue;
    }
    if (code == end) return false;
    if (code > next || (code == next && previous < 0)) return false;
    int depth = 0, walk = code;
    if (code == next) {  // the string of the previous code plus its own first byte
      stack[depth++] = first;
      walk = previous;
    }
    while (walk >= clear) {
      stack[depth++] = suffix[walk];
      walk = prefix[walk];
    }
    stack[depth++] = suffix[walk];
    first = suffix[walk];
    while (depth > 0 && out < pixels.size())
      pixels[out++] = stack[--depth];
    if (previous >= 0 && next < 4096) {
      prefix[next] = static_cast<std::uint16_t>(previous);
      suffix[next] = first;
      ++next;
      if (next == (1 << bits) && bits < 12) ++bits;
    }
    previous = code;
  }
  return true;
}

// Row order of an interlaced image: every 8th row from 0, from 4, every 4th
// from 2, every 2nd from 1.
int interlaced_row(int index, int height) {
  static const int kStart[] = {0, 4, 2, 1};
  static const int kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    const int rows =
        kStart[pass] < height ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
    if (index < rows) return kStart[pass] + index * kStep[pass];
    index -= rows;
  }
  return -1;
}

struct Frame {
  int left = 0, top = 0, width = 0, height = 0, transparent = -1;
  bool interlaced = false;
  std::vector<unsigned char> indexes;
};

bool paint(const Frame& frame, const Palette& palette, Picture& picture) {
  for (int i = 0; i < frame.height; ++i) {
    const int y = frame.top + (frame.interlaced ? interlaced_row(i, frame.height) : i);
    for (int x = 0; x < frame.width; ++x) {
      const unsigned char index = frame.indexes[static_cast<std::size_t>(i) * frame.width + x];
      if (index >= palette.size()) return false;
      if (index == frame.transparent || y >= picture.height || frame.left + x >= picture.width)
        continue;
      const auto& colour = palette[index];
      std::copy(colour.begin(), colour.end(),
                &picture.rgb[(static_cast<std::size_t>(y) * picture.width + frame.left + x) * 3]);
    }
  }
  return true;
}

bool read_frame(Reader& in, Frame& frame, Palette& palette) {
  int flags = 0, min_bits = 0;
  if (!in.word(frame.left) || !in.word(frame.top) || !in.word(frame.width) ||
      !in.word(frame.height) || !in.byte(flags)) {
    return false;
  }
  if (frame.width <= 0 || frame.height <= 0 || frame.width > kMaxPictureSide ||
      frame.height > kMaxPictureSide) {
    return false;
  }
  frame.interlaced = (flags & 0x40) != 0;
  if (!read_palette(in, flags, palette) || palette.empty() || !in.byte(min_bits)) return false;
  std::string data;
  if (!in.sub_blocks(&data)) return false;
  frame.indexes.resize(static_cast<std::size_t>(frame.width) * frame.height);
  return decompress(data, min_bits, frame.indexes);
}

}  // namespace

Picture decode_gif(const Bytes& bytes) {
  Reader in(bytes);
  int width = 0, height = 0, flags = 0;
  Palette palette;
  if (!in.skip(6) || !in.word(width) || !in.word(height) || !in.byte(flags) || !in.skip(2) ||
      width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
      !read_palette(in, flags, palette)) {
    return {};
  }
  Frame frame;
  for (int block = 0; in.byte(block);) {
    if (block == 0x2c) {
      if (!read_frame(in, frame, palette)) return {};
      Picture picture;
      picture.width = width;
      picture.height = height;
      picture.rgb.assign(static_cast<std::size_t>(width) * height * 3, 255);
      if (!paint(frame, palette, picture)) return {};
      return picture;
    }
    int label = 0;
    if (block != 0x21 || !in.byte(label)) return {};
    if (label != 0xf9) {
      if (!in.sub_blocks(nullptr)) return {};
      continue;
    }
    // Graphic control: only its transparent colour matters for a still picture.
    std::string control;
    if (!in.sub_blocks(&control)) return {};
    if (control.size() >= 4 && (control[0] & 1))
      frame.transparent = static_cast<unsigned char>(control[3]);
  }
  return {};
}

}  // namespace sharelink
