#include "sim/captcha_image.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <jpeglib.h>
#include <png.h>

namespace sharelink::sim {
namespace {

constexpr int kWidth = 120;
constexpr int kHeight = 40;
constexpr int kFirstLeft = 12;
constexpr int kStep = 26;

// Rows of five cells each, top to bottom.
constexpr std::pair<char, const char*> kGlyphs[] = {
    {'A', ".###.#...##...#######...##...##...#"}, {'B', "####.#...##...#####.#...##...#####."},
    {'C', ".###.#...##....#....#....#...#.###."}, {'D', "####.#...##...##...##...##...#####."},
    {'E', "######....#....####.#....#....#####"}, {'F', "######....#....####.#....#....#...."},
    {'G', ".###.#...##....#.####...##...#.####"}, {'H', "#...##...##...#######...##...##...#"},
    {'J', "..###...#....#....#....#.#..#..##.."}, {'K', "#...##..#.#.#..##...#.#..#..#.#...#"},
    {'M', "#...###.###.#.##.#.##...##...##...#"}, {'N', "#...##...###..##.#.##..###...##...#"},
    {'P', "####.#...##...#####.#....#....#...."}, {'Q', ".###.#...##...##...##.#.##..#..##.#"},
    {'R', "####.#...##...#####.#.#..#..#.#...#"}, {'S', ".#####....#.....###.....#....#####."},
    {'T', "#####..#....#....#....#....#....#.."}, {'U', "#...##...##...##...##...##...#.###."},
    {'V', "#...##...##...##...##...#.#.#...#.."}, {'W', "#...##...##...##.#.##.#.##.#.#.#.#."},
    {'X', "#...##...#.#.#...#...#.#.#...##...#"}, {'Y', "#...##...#.#.#...#....#....#....#.."},
    {'Z', "#####....#...#...#...#...#....#####"}, {'2', ".###.#...#....#...#...#...#...#####"},
    {'3', "#####...#...#.....#.....##...#.###."}, {'4', "...#...##..#.#.#..#.#####...#....#."},
    {'5', "######....####.....#....##...#.###."}, {'6', "..##..#...#....####.#...##...#.###."},
    {'7', "#####....#...#...#...#....#....#..."}, {'8', ".###.#...##...#.###.#...##...#.###."},
    {'9', ".###.#...##...#.####....#...#..##.."},
};

// A small deterministic generator: the picture depends only on answer and seed.
struct Noise {
  std::uint64_t state;
  std::uint32_t next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 33);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
};

void put(Picture& picture, int x, int y, int r, int g, int b) {
  if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return;
  unsigned char* pixel = &picture.rgb[(static_cast<std::size_t>(y) * picture.width + x) * 3];
  pixel[0] = static_cast<unsigned char>(r);
  pixel[1] = static_cast<unsigned char>(g);
  pixel[2] = static_cast<unsigned char>(b);
}

// Speckles and two thin lines, all far lighter than the glyphs.
void draw_background(Picture& picture, Noise& noise) {
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const int shade = noise.below(8) == 0 ? 200 + noise.below(30) : 236 + noise.below(20);
      put(picture, x, y, shade, shade - noise.below(10), shade - noise.below(16));
    }
  }
  for (int line = 0; line < 2; ++line) {
    const int y0 = 5 + noise.below(picture.height - 10);
    const int y1 = 5 + noise.below(picture.height - 10);
    for (int x = 0; x < picture.width; ++x) {
      put(picture, x, y0 + (y1 - y0) * x / picture.width, 170, 180, 200);
    }
  }
}

void draw_glyph(Picture& picture, std::string_view cells, int left, int top, Noise& noise) {
  const int r = noise.below(70), g = noise.below(70), b = 40 + noise.below(60);
  for (int row = 0; row < kGlyphHeight; ++row) {
    for (int col = 0; col < kGlyphWidth; ++col) {
      if (cells[row * kGlyphWidth + col] != '#') continue;
      for (int dy = 0; dy < kGlyphScale; ++dy) {
        for (int dx = 0; dx < kGlyphScale; ++dx) {
          put(picture, left + col * kGlyphScale + dx, top + row * kGlyphScale + dy, r, g, b);
        }
      }
    }
  }
}

void write_png_data(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void jpeg_fail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

}  // namespace

std::string_view glyph_cells(char c) {
  for (const auto& glyph : kGlyphs) {
    if (glyph.first == c) return glyph.second;
  }
  return {};
}

Picture draw_captcha(std::string_view answer, std::uint64_t seed) {
  Picture picture;
  picture.width = kWidth;
  picture.height = kHeight;
  picture.rgb.assign(static_cast<std::size_t>(kWidth) * kHeight * 3, 255);
  Noise noise{seed ^ 0x5DEECE66Dull};
  for (const char c : answer)
    noise.state = noise.state * 31 + static_cast<unsigned char>(c);
  draw_background(picture, noise);
  const int free_rows = kHeight - kGlyphHeight * kGlyphScale;
  for (std::size_t i = 0; i < picture.glyph_left.size(); ++i) {
    picture.glyph_left[i] = kFirstLeft + static_cast<int>(i) * kStep + noise.below(5) - 2;
    picture.glyph_top[i] = 4 + noise.below(free_rows - 8);
    if (i < answer.size() && !glyph_cells(answer[i]).empty()) {
      draw_glyph(picture, glyph_cells(answer[i]), picture.glyph_left[i], picture.glyph_top[i],
                 noise);
    }
  }
  return picture;
}

std::string encode_png(const Picture& picture) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return "";
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "";
  }
  png_set_write_fn(png, &out, write_png_data, nullptr);
  png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < picture.height; ++y) {
    png_write_row(png, &picture.rgb[static_cast<std::size_t>(y) * picture.width * 3]);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string encode_jpeg(const Picture& picture, int quality) {
  jpeg_compress_struct info{};
  JpegError error{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jpeg_fail;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return "";
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(picture.width);
  info.image_height = static_cast<JDIMENSION>(picture.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(
        &picture.rgb[static_cast<std::size_t>(info.next_scanline) * picture.width * 3]);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::string out(reinterpret_cast<char*>(buffer), size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return out;
}

std::string captcha_file(std::string_view answer, std::uint64_t seed, ImageFormat format) {
  const Picture picture = draw_captcha(answer, seed);
  return format == ImageFormat::png ? encode_png(picture) : encode_jpeg(picture, 90);
}

std::string corrupt_file(const std::string& file, std::uint64_t seed) {
  const std::size_t keep = std::min<std::size_t>(file.size(), 8);
  std::string out = file.substr(0, keep);
  Noise noise{seed + 1};
  while (out.size() < std::max(keep, file.size() / 2))
    out += static_cast<char>(noise.next());
  return out;
}

}  // namespace sharelink::sim
