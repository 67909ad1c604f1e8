#pragma once

// Captcha pictures drawn by the simulator: four characters of a built-in 5x7
// bitmap font, scaled up, on a lightly speckled background, written as a real
// PNG or JPEG file.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/fixture.h"

namespace sharelink::sim {

// No 0/O, 1/I or L-like pairs, so a person reads the answer back without doubt.
inline constexpr std::string_view kCaptchaAlphabet = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";
inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphScale = 3;

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;  // row by row, three bytes a pixel
  std::array<int, 4> glyph_left{};
  std::array<int, 4> glyph_top{};
};

// The glyph of an alphabet character as 35 '#'/'.' cells, row by row; "" for
// any other character.
std::string_view glyph_cells(char c);

// The same answer and seed give the same picture. Characters past the fourth are
// not drawn; unknown ones leave their place empty.
Picture draw_captcha(std::string_view answer, std::uint64_t seed);

// Encoded files; "" when the encoder fails.
std::string encode_png(const Picture& picture);
std::string encode_jpeg(const Picture& picture, int quality);
std::string captcha_file(std::string_view answer, std::uint64_t seed, ImageFormat format);

// Keeps the file's signature and replaces the rest by garbage of half the
// length: what a broken transfer or a faulty service could deliver.
std::string corrupt_file(const std::string& file, std::uint64_t seed);

}  // namespace sharelink::sim
