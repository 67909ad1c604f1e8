#include "app/desktop/captcha_picture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <cstring>

#include "sim/captcha_image.h"

namespace sharelink {
namespace {

sim::Picture blank(int width, int height) {
  sim::Picture picture;
  picture.width = width;
  picture.height = height;
  picture.rgb.assign(static_cast<std::size_t>(width) * height * 3, 200);
  return picture;
}

TEST(CaptchaPicture, DecodesTheServicePicturesInBothFormats) {
  const sim::Picture drawn = sim::draw_captcha("MKW2", 7);
  const Picture png = decode_picture(sim::encode_png(drawn));
  ASSERT_EQ(png.width, drawn.width);
  ASSERT_EQ(png.height, drawn.height);
  EXPECT_EQ(png.rgb, drawn.rgb);

  const Picture jpeg = decode_picture(sim::encode_jpeg(drawn, 90));
  ASSERT_EQ(jpeg.width, drawn.width);
  ASSERT_EQ(jpeg.height, drawn.height);
  ASSERT_EQ(jpeg.rgb.size(), drawn.rgb.size());
  // Lossy, but the same picture.
  long difference = 0;
  for (std::size_t i = 0; i < drawn.rgb.size(); ++i)
    difference += std::abs(jpeg.rgb[i] - drawn.rgb[i]);
  EXPECT_LT(difference / static_cast<long>(drawn.rgb.size()), 8);
}

TEST(CaptchaPicture, TransparentPngPartsLieOnWhite) {
  // One transparent pixel, one opaque red one.
  const unsigned char rgba[] = {0, 0, 0, 0, 255, 0, 0, 255};
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = 2;
  image.height = 1;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  ASSERT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, rgba, 0, nullptr));
  std::string file(size, '\0');
  ASSERT_TRUE(png_image_write_to_memory(&image, file.data(), &size, 0, rgba, 0, nullptr));
  const Picture picture = decode_picture(file);
  EXPECT_EQ(picture.rgb, (std::vector<unsigned char>{255, 255, 255, 255, 0, 0}));
}

TEST(CaptchaPicture, EveryFileCutShortOfItsPixelsGivesNoPicture) {
  const sim::Picture drawn = sim::draw_captcha("AB23", 1);
  const std::string png = sim::encode_png(drawn);
  const std::string jpeg = sim::encode_jpeg(drawn, 75);
  // A PNG's pixels are whole before its closing 12-byte IEND chunk; a JPEG
  // without its end marker may be missing data.
  constexpr std::size_t kPngEndChunk = 12;
  EXPECT_EQ(decode_picture(png.substr(0, png.size() - kPngEndChunk)).rgb, drawn.rgb);
  for (std::size_t length = 0; length < png.size() - kPngEndChunk; ++length) {
    ASSERT_TRUE(decode_picture(png.substr(0, length)).empty()) << length << " of " << png.size();
  }
  ASSERT_FALSE(decode_picture(jpeg).empty());
  for (std::size_t length = 0; length < jpeg.size(); ++length) {
    ASSERT_TRUE(decode_picture(jpeg.substr(0, length)).empty()) << length << " of " << jpeg.size();
  }
}

TEST(CaptchaPicture, DamagedFilesNeverCrash) {
  const sim::Picture drawn = sim::draw_captcha("XY45", 3);
  for (const std::string& file : {sim::encode_png(drawn), sim::encode_jpeg(drawn, 75)}) {
    for (std::uint64_t seed = 1; seed <= 50; ++seed) {
      EXPECT_TRUE(decode_picture(sim::corrupt_file(file, seed)).empty()) << seed;
    }
    // Single flipped bytes: a picture or none, but every pixel in bounds.
    for (std::size_t at = 0; at < file.size(); at += 7) {
      std::string damaged = file;
      damaged[at] = static_cast<char>(damaged[at] ^ 0x5a);
      const Picture picture = decode_picture(damaged);
      if (!picture.empty()) {
        EXPECT_EQ(picture.rgb.size(), static_cast<std::size_t>(picture.width) * picture.height * 3);
      }
    }
  }
}

TEST(CaptchaPicture, RefusesPicturesBeyondTheSideLimit) {
  EXPECT_FALSE(decode_picture(sim::encode_png(blank(kMaxPictureSide, 1))).empty());
  EXPECT_TRUE(decode_picture(sim::encode_png(blank(kMaxPictureSide + 1, 1))).empty());
  EXPECT_TRUE(decode_picture(sim::encode_png(blank(1, kMaxPictureSide + 1))).empty());
  EXPECT_FALSE(decode_picture(sim::encode_jpeg(blank(8, kMaxPictureSide), 50)).empty());
  EXPECT_TRUE(decode_picture(sim::encode_jpeg(blank(kMaxPictureSide + 1, 8), 50)).empty());
  EXPECT_TRUE(decode_picture(sim::encode_jpeg(blank(8, kMaxPictureSide + 1), 50)).empty());
}

TEST(CaptchaPicture, RefusesJpegFilesOfMoreScansThanTheLimit) {
  // Start-of-scan markers hidden in a comment segment right after the SOI
  // marker count like scans of a progressive file.
  const std::string jpeg = sim::encode_jpeg(blank(8, 8), 50);
  const auto with_scans = [&](std::size_t scans) {
    std::string markers;
    for (std::size_t i = 0; i < scans; ++i)
      markers += "\xff\xda";
    const std::size_t length = markers.size() + 2;
    return jpeg.substr(0, 2) + "\xff\xfe" + static_cast<char>(length >> 8) +
           static_cast<char>(length & 0xff) + markers + jpeg.substr(2);
  };
  // The file's own scan counts too.
  EXPECT_FALSE(decode_picture(with_scans(kMaxJpegScans - 1)).empty());
  EXPECT_TRUE(decode_picture(with_scans(kMaxJpegScans)).empty());
}

TEST(CaptchaPicture, OtherBytesGiveNoPicture) {
  EXPECT_TRUE(decode_picture("").empty());
  EXPECT_TRUE(decode_picture("no such captcha").empty());
  EXPECT_TRUE(decode_picture("<html><body>404</body></html>").empty());
  EXPECT_TRUE(decode_picture("\x89PNG\r\n\x1a\n").empty());
  EXPECT_TRUE(decode_picture(std::string("\xff\xd8\xff\xe0\0\x10JFIF\0", 11)).empty());
  EXPECT_TRUE(decode_picture("GIF89a").empty());
}

// GIF files written by an independent encoder: 16x4 and (interlaced) 8x10
// pictures whose pixel (x, y) has colour kGifColours[(x / 2 + y) % 4].
const unsigned char kGifColours[4][3] = {{255, 0, 0}, {0, 128, 0}, {0, 0, 255}, {255, 255, 255}};
const char kGif16x4[] =
    "GIF89a\x10\x00\x04\x00\xf1\x03\x00\xff\x00\x00\x00\x80\x00\x00\x00\xff\xff\xff\xff"
    "!\xf9\x04\x00\x00\x00\x00\x00,\x00\x00\x00\x00\x10\x00\x04\x00\x00\x02\x13\x04\x12\""
    "3\x86\xca\xdej'M\x03\xa9"
    "d.\xf0\x9auJ\x01\x00;";
const char kGif8x10Interlaced[] =
    "GIF89a\x08\x00\x0a\x00\xf1\x03\x00\xff\x00\x00\x00\x80\x00\x00\x00\xff\xff\xff\xff"
    "!\xf9\x04\x00\x00\x00\x00\x00,\x00\x00\x00\x00\x08\x00\x0a\x00@\x02\x15\x04\x12\""
    "3\x86\xca\\Z\x03\xb6"
    "3#~\xd4h\xcei\xdf\x14^\x05\x00;";

void expect_gif_pattern(const Picture& picture, int width, int height) {
  ASSERT_EQ(picture.width, width);
  ASSERT_EQ(picture.height, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned char* pixel = &picture.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      const unsigned char* want = kGifColours[(x / 2 + y) % 4];
      ASSERT_TRUE(std::equal(pixel, pixel + 3, want)) << x << "," << y;
    }
  }
}

TEST(CaptchaPicture, DecodesGifIncludingInterlacedRows) {
  const std::string plain(kGif16x4, sizeof kGif16x4 - 1);
  const std::string interlaced(kGif8x10Interlaced, sizeof kGif8x10Interlaced - 1);
  expect_gif_pattern(decode_picture(plain), 16, 4);
  expect_gif_pattern(decode_picture(interlaced), 8, 10);
  // The image data must be whole; the trailer after it may be missing.
  for (const std::string& file : {plain, interlaced}) {
    for (std::size_t length = 0; length + 1 < file.size(); ++length) {
      ASSERT_TRUE(decode_picture(file.substr(0, length)).empty()) << length;
    }
  }
}

TEST(CaptchaPicture, DamagedGifNeverReadsOutOfBounds) {
  std::string file(kGif16x4, sizeof kGif16x4 - 1);
  // A screen of 0x0 and a frame larger than the limit.
  std::string empty_screen = file;
  empty_screen[6] = empty_screen[8] = '\0';
  EXPECT_TRUE(decode_picture(empty_screen).empty());
  std::string huge_frame = file;
  huge_frame[0x26] = '\xff';
  huge_frame[0x27] = '\x7f';
  EXPECT_TRUE(decode_picture(huge_frame).empty());
  for (std::size_t at = 6; at < file.size(); ++at) {
    for (unsigned char value : {0x00, 0x0b, 0x7f, 0xff}) {
      std::string damaged = file;
      damaged[at] = static_cast<char>(value);
      const Picture picture = decode_picture(damaged);
      if (!picture.empty()) {
        EXPECT_EQ(picture.rgb.size(), static_cast<std::size_t>(picture.width) * picture.height * 3);
      }
    }
  }
}

}  // namespace
}  // namespace sharelink
