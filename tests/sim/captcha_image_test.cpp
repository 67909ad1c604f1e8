#include "sim/captcha_image.h"

#include <set>

#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace sharelink::sim {
namespace {

bool dark(const Picture& picture, int x, int y) {
  const unsigned char* pixel = &picture.rgb[(static_cast<std::size_t>(y) * picture.width + x) * 3];
  return pixel[0] + pixel[1] + pixel[2] < 3 * 128;
}

// Reads the answer back cell by cell, as a reader of the picture would.
std::string read_back(const Picture& picture) {
  std::string text;
  for (std::size_t i = 0; i < picture.glyph_left.size(); ++i) {
    std::string cells;
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int col = 0; col < kGlyphWidth; ++col) {
        const int x = picture.glyph_left[i] + col * kGlyphScale + kGlyphScale / 2;
        const int y = picture.glyph_top[i] + row * kGlyphScale + kGlyphScale / 2;
        cells += dark(picture, x, y) ? '#' : '.';
      }
    }
    for (const char c : kCaptchaAlphabet) {
      if (glyph_cells(c) == cells) text += c;
    }
  }
  return text;
}

TEST(CaptchaImage, FontCoversTheAlphabetWithDistinctGlyphs) {
  std::set<std::string_view> seen;
  for (const char c : kCaptchaAlphabet) {
    ASSERT_EQ(glyph_cells(c).size(), 35u) << c;
    EXPECT_TRUE(seen.insert(glyph_cells(c)).second) << c;
  }
  EXPECT_TRUE(glyph_cells('O').empty());
}

TEST(CaptchaImage, AnswerIsLegibleAndOnlyTheGlyphsAreDark) {
  for (const std::string answer : {"AB3K", "WXYZ", "2222", "MN98"}) {
    for (std::uint64_t seed : {1ull, 77ull, 123456789ull}) {
      const Picture picture = draw_captcha(answer, seed);
      EXPECT_EQ(read_back(picture), answer) << seed;
      int dark_pixels = 0, glyph_pixels = 0;
      for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x)
          dark_pixels += dark(picture, x, y);
      }
      for (const char c : answer) {
        const std::string_view cells = glyph_cells(c);
        glyph_pixels += static_cast<int>(std::count(cells.begin(), cells.end(), '#')) *
                        kGlyphScale * kGlyphScale;
      }
      EXPECT_EQ(dark_pixels, glyph_pixels);
    }
  }
}

TEST(CaptchaImage, FilesDecode) {
  const Picture picture = draw_captcha("HJK7", 5);
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  ASSERT_TRUE(testing::decode_png(captcha_file("HJK7", 5, ImageFormat::png), width, height, &rgb));
  EXPECT_EQ(rgb, picture.rgb);  // lossless
  const std::string jpeg = captcha_file("HJK7", 5, ImageFormat::jpeg);
  EXPECT_EQ(jpeg.substr(0, 3), "\xFF\xD8\xFF");
  ASSERT_TRUE(testing::decode_jpeg(jpeg, width, height));
  EXPECT_EQ(width, picture.width);
  EXPECT_EQ(height, picture.height);
  EXPECT_FALSE(testing::decode_jpeg(corrupt_file(jpeg, 3), width, height));
  EXPECT_NE(captcha_file("HJK7", 6, ImageFormat::png), captcha_file("HJK7", 5, ImageFormat::png));
}

}  // namespace
}  // namespace sharelink::sim
