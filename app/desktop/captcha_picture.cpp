#include "app/desktop/captcha_picture.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

namespace sharelink {

namespace {

bool fits(unsigned long width, unsigned long height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide;
}

bool starts_with(const Bytes& bytes, const char* signature, std::size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), signature, length) == 0;
}

// libjpeg reports errors through a function that must not return; we jump back
// to decode_jpeg. Warnings (a file cut short, damaged entropy data) are counted:
// libjpeg would paint the missing part grey, we refuse the picture instead.
struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void jpeg_fail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void jpeg_note(j_common_ptr info, int level) {
  if (level < 0) ++info->err->num_warnings;
}

void jpeg_quiet(j_common_ptr) {}

// Runs between setjmp and any longjmp: holds no object with a destructor, so the
// jump skips nothing that needs cleaning up. Returns false when libjpeg failed.
bool read_jpeg(jpeg_decompress_struct& info, JpegErrors& errors, const Bytes& bytes,
               Picture& picture) {
  if (setjmp(errors.jump) != 0) return false;
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  if (!fits(info.image_width, info.image_height)) return false;
  info.out_color_space = JCS_RGB;
  if (!jpeg_start_decompress(&info) || info.output_components != 3) return false;
  picture.width = static_cast<int>(info.output_width);
  picture.height = static_cast<int>(info.output_height);
  picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &picture.rgb[static_cast<std::size_t>(info.output_scanline) * picture.width * 3];
    if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
  }
  return jpeg_finish_decompress(&info) && errors.manager.num_warnings == 0;
}

}  // namespace

Picture decode_png(const Bytes& bytes) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  // The simplified API keeps libpng's error jumps inside libpng.
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return {};
  if (!fits(image.width, image.height)) {
    png_image_free(&image);
    return {};
  }
  image.format = PNG_FORMAT_RGB;
  Picture picture;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&image, &white, picture.rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  return picture;
}

Picture decode_jpeg(const Bytes& bytes) {
  // libjpeg decodes a progressive file once per scan: a million tiny scans cost
  // minutes for a picture of a few pixels.
  if (jpeg_scans(bytes) > kMaxJpegScans) return {};
  jpeg_decompress_struct info;
  JpegErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jpeg_fail;
  errors.manager.emit_message = jpeg_note;
  errors.manager.output_message = jpeg_quiet;
  Picture picture;
  const bool ok = read_jpeg(info, errors, bytes, picture);
  jpeg_destroy_decompress(&info);
  if (!ok) return {};
  return picture;
}

Picture decode_picture(const Bytes& bytes) {
  if (starts_with(bytes, "\x89PNG\r\n\x1a\n", 8)) return decode_png(bytes);
  if (starts_with(bytes, "\xff\xd8\xff", 3)) return decode_jpeg(bytes);
  if (starts_with(bytes, "GIF87a", 6) || starts_with(bytes, "GIF89a", 6)) return decode_gif(bytes);
  return {};
}

}  // namespace sharelink
