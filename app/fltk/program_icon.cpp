#include "app/fltk/program_icon.h"

#include <png.h>

#include <cstring>
#include <vector>

#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Window.H>

#include "app/fltk/icon_png.h"

namespace sharelink {

void set_program_icon() {
  // The captcha decoder lays pictures on white; an icon keeps its
  // transparency, so it is read here as RGBA with the same libpng calls.
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, kIconPng, sizeof kIconPng)) return;
  image.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return;
  }
  // The toolkit keeps a copy.
  const Fl_RGB_Image icon(pixels.data(), static_cast<int>(image.width),
                          static_cast<int>(image.height), 4);
  Fl_Window::default_icon(&icon);
}

}  // namespace sharelink
