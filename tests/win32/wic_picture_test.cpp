// The captcha picture decoder of the Windows window: every format the service
// may send, transparency, the side limit, and files that must give no picture.
// The pictures are made with the system's own encoders, so the cases need no
// sample files.

#include "app/win32/wic_picture.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace sharelink {
namespace {

using Microsoft::WRL::ComPtr;

// Pixels as WIC takes them: B, G, R, A a pixel, rows top down.
struct Bgra {
  int width = 0;
  int height = 0;
  std::vector<BYTE> pixels;
};

// Gradients that tell every row and column apart, fully opaque; smooth enough
// for JPEG to keep them close.
Bgra pattern(int width, int height) {
  Bgra picture{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      picture.pixels.insert(
          picture.pixels.end(),
          {static_cast<BYTE>(x * 2), static_cast<BYTE>(y * 5), static_cast<BYTE>(x + y), 255});
    }
  }
  return picture;
}

// The RGB pixels decode_with_wic gives for an opaque picture.
std::vector<unsigned char> rgb_of(const Bgra& picture) {
  std::vector<unsigned char> rgb;
  for (std::size_t at = 0; at < picture.pixels.size(); at += 4) {
    rgb.insert(rgb.end(), {picture.pixels[at + 2], picture.pixels[at + 1], picture.pixels[at]});
  }
  return rgb;
}

class WicPicture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IWICImagingFactory,
                                           reinterpret_cast<void**>(factory_.GetAddressOf()))));
  }
  void TearDown() override {
    factory_.Reset();
    CoUninitialize();
  }

  // The picture as a file of the container format; "" when the system could
  // not write it.
  Bytes encode(const GUID& container, const Bgra& picture) {
    ComPtr<IStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    ComPtr<IWICBitmap> source;
    const UINT stride = picture.width * 4;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf())) ||
        FAILED(factory_->CreateEncoder(container, nullptr, encoder.GetAddressOf())) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.GetAddressOf(), options.GetAddressOf())) ||
        FAILED(frame->Initialize(options.Get())) ||
        FAILED(frame->SetSize(picture.width, picture.height)) ||
        FAILED(factory_->CreateBitmapFromMemory(
            picture.width, picture.height, GUID_WICPixelFormat32bppBGRA, stride,
            static_cast<UINT>(picture.pixels.size()), const_cast<BYTE*>(picture.pixels.data()),
            source.GetAddressOf()))) {
      return {};
    }
    // The frame takes the format nearest to the source it supports and
    // converts the pixels on the way.
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(frame->SetPixelFormat(&format)) ||
        FAILED(frame->WriteSource(source.Get(), nullptr)) || FAILED(frame->Commit()) ||
        FAILED(encoder->Commit())) {
      return {};
    }
    HGLOBAL memory = nullptr;
    if (FAILED(GetHGlobalFromStream(stream.Get(), &memory))) return {};
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return {};
    const auto* bytes = static_cast<const char*>(GlobalLock(memory));
    Bytes file(bytes, static_cast<std::size_t>(stat.cbSize.QuadPart));
    GlobalUnlock(memory);
    return file;
  }

  ComPtr<IWICImagingFactory> factory_;
};

struct LosslessFormat {
  const char* name;
  const GUID* container;
};

class LosslessPicture : public WicPicture, public ::testing::WithParamInterface<LosslessFormat> {};

TEST_P(LosslessPicture, DecodesToTheSamePixels) {
  const Bgra drawn = pattern(120, 40);
  const Bytes file = encode(*GetParam().container, drawn);
  ASSERT_FALSE(file.empty());
  const Picture picture = decode_with_wic(file);
  EXPECT_EQ(picture.width, drawn.width);
  EXPECT_EQ(picture.height, drawn.height);
  EXPECT_EQ(picture.rgb, rgb_of(drawn));
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessPicture,
                         ::testing::Values(LosslessFormat{"png", &GUID_ContainerFormatPng},
                                           LosslessFormat{"bmp", &GUID_ContainerFormatBmp}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WicPicture, JpegDecodesToNearlyTheSamePixels) {
  const Bgra drawn = pattern(120, 40);
  const Picture picture = decode_with_wic(encode(GUID_ContainerFormatJpeg, drawn));
  ASSERT_EQ(picture.width, drawn.width);
  ASSERT_EQ(picture.height, drawn.height);
  const std::vector<unsigned char> expected = rgb_of(drawn);
  ASSERT_EQ(picture.rgb.size(), expected.size());
  long difference = 0;
  for (std::size_t i = 0; i < expected.size(); ++i)
    difference += std::abs(picture.rgb[i] - expected[i]);
  EXPECT_LT(difference / static_cast<long>(expected.size()), 8);
}

TEST_F(WicPicture, GifShowsItsPaletteColours) {
  // 2 x 1 pixels: palette black, white; LZW codes clear, 1, 0, end.
  const Bytes gif(
      "GIF89a\x02\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff"
      ",\x00\x00\x00\x00\x02\x00\x01\x00\x00\x02\x02\x0c\x0a\x00;",
      35);
  const Picture picture = decode_with_wic(gif);
  EXPECT_EQ(picture.rgb, (std::vector<unsigned char>{255, 255, 255, 0, 0, 0}));
}

TEST_F(WicPicture, TransparentPartsLieOnWhite) {
  // One transparent pixel, one opaque red one, one half-transparent black one.
  const Bgra drawn{3, 1, {0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 128}};
  const Picture picture = decode_with_wic(encode(GUID_ContainerFormatPng, drawn));
  EXPECT_EQ(picture.rgb, (std::vector<unsigned char>{255, 255, 255, 255, 0, 0, 127, 127, 127}));
}

TEST_F(WicPicture, SidesOverTheLimitAreRefused) {
  for (const auto& [width, height, shown] :
       {std::tuple{kMaxPictureSide, 1, true}, std::tuple{kMaxPictureSide + 1, 1, false},
        std::tuple{1, kMaxPictureSide + 1, false}}) {
    const Bytes file = encode(GUID_ContainerFormatBmp, pattern(width, height));
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(decode_with_wic(file).empty(), !shown) << width << " x " << height;
  }
}

TEST_F(WicPicture, JpegsOfTooManyScansAreRefused) {
  const Bytes jpeg = encode(GUID_ContainerFormatJpeg, pattern(16, 16));
  ASSERT_FALSE(decode_with_wic(jpeg).empty());
  // Scan markers after the end of the picture count as well: the limit is
  // checked on the bytes, before any decoding.
  std::string scans;
  for (std::size_t i = 0; i < kMaxJpegScans; ++i)
    scans += "\xff\xda";
  EXPECT_TRUE(decode_with_wic(jpeg + scans).empty());
}

TEST_F(WicPicture, FilesCutShortGiveNoPicture) {
  const Bytes png = encode(GUID_ContainerFormatPng, pattern(40, 12));
  ASSERT_FALSE(decode_with_wic(png).empty());
  // The pixels are whole before the closing 12-byte IEND chunk.
  for (std::size_t length = 0; length < png.size() - 12; ++length)
    ASSERT_TRUE(decode_with_wic(png.substr(0, length)).empty()) << length << " of " << png.size();
}

TEST_F(WicPicture, OtherFormatsThanTheServicesAreNeverDecoded) {
  // The system decodes TIFF and icons, but a captcha is never one: bytes from
  // the network reach only the four decoders.
  const Bytes tiff = encode(GUID_ContainerFormatTiff, pattern(8, 8));
  ASSERT_FALSE(tiff.empty());
  for (const Bytes& file : {tiff, Bytes("not a picture"), Bytes(), Bytes("\x89PNG\r\n\x1a\n", 8),
                            Bytes("BM"), Bytes("GIF89a")}) {
    EXPECT_TRUE(decode_with_wic(file).empty()) << file.substr(0, 4);
  }
}

}  // namespace
}  // namespace sharelink
