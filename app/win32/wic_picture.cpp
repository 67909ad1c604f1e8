#include "app/win32/wic_picture.h"

#include <windows.h>

#include <wincodec.h>
#include <wrl/client.h>

#include <cstring>
#include <vector>

namespace sharelink {

namespace {

using Microsoft::WRL::ComPtr;

bool starts_with(const Bytes& bytes, const char* signature, std::size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), signature, length) == 0;
}

const CLSID* decoder_for(const Bytes& bytes) {
  if (starts_with(bytes, "\x89PNG\r\n\x1a\n", 8)) return &CLSID_WICPngDecoder;
  if (starts_with(bytes, "\xff\xd8\xff", 3)) return &CLSID_WICJpegDecoder;
  if (starts_with(bytes, "GIF87a", 6) || starts_with(bytes, "GIF89a", 6)) {
    return &CLSID_WICGifDecoder;
  }
  if (starts_with(bytes, "BM", 2)) return &CLSID_WICBmpDecoder;
  return nullptr;
}

// Straight (not premultiplied) alpha over white, as the Linux decoders do.
unsigned char over_white(unsigned char colour, unsigned char alpha) {
  return static_cast<unsigned char>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

}  // namespace

Picture decode_with_wic(const Bytes& bytes) {
  const CLSID* decoder_class = decoder_for(bytes);
  if (!decoder_class || bytes.size() > MAXDWORD) return {};
  if (decoder_class == &CLSID_WICJpegDecoder && jpeg_scans(bytes) > kMaxJpegScans) return {};
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  UINT width = 0, height = 0, frames = 0;
  // The stream reads the caller's bytes in place; nothing writes through it.
  auto* data = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory,
                              reinterpret_cast<void**>(factory.GetAddressOf()))) ||
      FAILED(factory->CreateStream(stream.GetAddressOf())) ||
      FAILED(stream->InitializeFromMemory(data, static_cast<DWORD>(bytes.size()))) ||
      FAILED(CoCreateInstance(*decoder_class, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder,
                              reinterpret_cast<void**>(decoder.GetAddressOf()))) ||
      FAILED(decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrameCount(&frames)) || frames == 0 ||
      FAILED(decoder->GetFrame(0, frame.GetAddressOf())) ||
      FAILED(frame->GetSize(&width, &height))) {
    return {};
  }
  if (width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide) return {};
  const UINT stride = width * 4;
  std::vector<BYTE> bgra(static_cast<std::size_t>(stride) * height);
  if (FAILED(factory->CreateFormatConverter(converter.GetAddressOf())) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)) ||
      FAILED(converter->CopyPixels(nullptr, stride, static_cast<UINT>(bgra.size()), bgra.data()))) {
    return {};
  }
  Picture picture;
  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  picture.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t pixel = 0, count = static_cast<std::size_t>(width) * height; pixel < count;
       ++pixel) {
    const BYTE* in = &bgra[pixel * 4];
    unsigned char* out = &picture.rgb[pixel * 3];
    out[0] = over_white(in[2], in[3]);
    out[1] = over_white(in[1], in[3]);
    out[2] = over_white(in[0], in[3]);
  }
  return picture;
}

}  // namespace sharelink
