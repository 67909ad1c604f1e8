// Captcha pictures a hostile service sends: none at all, a page instead of a
// picture, pictures whose headers declare billions of pixels, one past the
// body cap. The terminal front end only writes the bytes to a file (the
// window's decoder is tested with the window), so the job has to reach the
// prompt, give up at end of input and end.

#include <unistd.h>
#include <zlib.h>

#include <string>

#include <gtest/gtest.h>

#include "faults/faults_harness.h"

namespace sharelink::faults {
namespace {

std::string big_endian(std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (24 - 8 * i)) & 0xff);
  return bytes;
}

std::string little_endian16(std::uint16_t value) {
  return {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
}

std::string png_chunk(const std::string& type, const std::string& data) {
  const std::string typed = type + data;
  const auto crc =
      crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
  return big_endian(static_cast<std::uint32_t>(data.size())) + typed +
         big_endian(static_cast<std::uint32_t>(crc));
}

// A well-formed PNG of 100000 x 100000 RGBA pixels: 40 GB once decoded.
std::string png_bomb() {
  std::string header = big_endian(100000) + big_endian(100000);
  header += std::string("\x08\x06\x00\x00\x00", 5);
  const std::string row(16, '\0');
  Bytef packed[64];
  uLongf packed_size = sizeof packed;
  compress(packed, &packed_size, reinterpret_cast<const Bytef*>(row.data()), row.size());
  return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", header) +
         png_chunk("IDAT", std::string(reinterpret_cast<const char*>(packed), packed_size)) +
         png_chunk("IEND", "");
}

// A baseline JPEG frame of 65535 x 65535 with three components, no scan.
std::string jpeg_bomb() {
  return std::string(
      "\xff\xd8\xff\xc0\x00\x11\x08\xff\xff\xff\xff\x03"
      "\x01\x22\x00\x02\x11\x01\x03\x11\x01\xff\xd9",
      23);
}

// A GIF whose screen and image are 65535 x 65535, with one tiny LZW block.
std::string gif_bomb() {
  const std::string size = little_endian16(0xffff) + little_endian16(0xffff);
  return "GIF89a" + size + std::string("\x00\x00\x00", 3) + "\x2c" + std::string(4, '\0') + size +
         std::string("\x00\x02\x02\x4c\x01\x00\x3b", 7);
}

// Every link request asks for a captcha, whose picture is picture.
void captcha_with(Scene& scene, std::string picture) {
  scene.service.download = [](int, const std::string&) {
    return std::string(R"({"errno":-20,"request_id":8,"show_msg":""})");
  };
  scene.service.picture = std::move(picture);
  scene.options = {"--captcha-file",
                   ::testing::TempDir() + "faults_captcha_" + std::to_string(getpid()) + ".img"};
}

const char* const kGaveUp = u8"用户主动放弃,输入验证码";

class HostileCaptcha : public ::testing::TestWithParam<FaultCase> {};

TEST_P(HostileCaptcha, PromptIsReachedAndGivenUp) {
  run_fault_case(GetParam());
}

const FaultCase kCaptchaCases[] = {
    {"empty_picture", [](Scene& s) { captcha_with(s, ""); }, {{2, kGaveUp, 0}}},
    {"html_instead_of_a_picture",
     [](Scene& s) {
       captcha_with(s,
                    "<!DOCTYPE html><html><head><title>busy</title></head>"
                    "<body>try again later</body></html>");
     },
     {{2, kGaveUp, 0}}},
    {"png_declaring_100000_by_100000",
     [](Scene& s) { captcha_with(s, png_bomb()); },
     {{2, kGaveUp, 0}},
     128},
    {"jpeg_declaring_65535_by_65535",
     [](Scene& s) { captcha_with(s, jpeg_bomb()); },
     {{2, kGaveUp, 0}},
     128},
    {"gif_declaring_65535_by_65535",
     [](Scene& s) { captcha_with(s, gif_bomb()); },
     {{2, kGaveUp, 0}},
     128},
    // Past the 64 MiB body cap: no picture, and still the prompt.
    {"picture_of_80_MiB",
     [](Scene& s) {
       captcha_with(s, std::string("\x89PNG\r\n\x1a\n", 8));
       s.service.tamper = [](const Request& request, Reply& reply) {
         if (request.path() == "/genimage") reply.padding = std::uint64_t{80} << 20;
       };
     },
     {{2, kGaveUp, 0}},
     256},
};

INSTANTIATE_TEST_SUITE_P(Faults, HostileCaptcha, ::testing::ValuesIn(kCaptchaCases), case_name);

}  // namespace
}  // namespace sharelink::faults
