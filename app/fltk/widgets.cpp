#include "app/fltk/widgets.h"

#include <algorithm>

#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>

#include "text/text_encoding.h"

namespace sharelink {

void show_message(const std::string& text, const std::string& caption) {
  fl_message_title(gbk_to_utf8(caption).c_str());
  fl_message("%s", gbk_to_utf8(text).c_str());
}

void style_edit_box(Fl_Widget& box, Fl_Color text_colour) {
  box.color(FL_WHITE);
  box.selection_color(FL_SELECTION_COLOR);
  if (auto* input = dynamic_cast<Fl_Input_*>(&box)) input->textcolor(text_colour);
}

CentredInput::CentredInput(int x, int y, int w, int h, int max_chars) : Fl_Input(x, y, w, h) {
  maximum_size(max_chars);
  textsize(16);
  style_edit_box(*this);
}

std::string CentredInput::local_value() const {
  return utf8_to_gbk(value());
}

void CentredInput::set_local_value(const std::string& text) {
  value(gbk_to_utf8(text).c_str());
}

void CentredInput::draw() {
  const Fl_Boxtype frame = box();
  const int x0 = x() + Fl::box_dx(frame), width = w() - Fl::box_dw(frame);
  fl_font(textfont(), textsize());
  // The toolkit draws one-line text from the left edge; moving the drawing area
  // to the right centres it. The cursor needs a pixel or two beyond the text.
  const int text_width = static_cast<int>(fl_width(value(), size())) + 4;
  shift_ = std::max(0, (width - text_width) / 2);
  draw_box(frame, color());
  drawtext(x0 + shift_, y() + Fl::box_dy(frame), width - shift_, h() - Fl::box_dh(frame));
}

int CentredInput::handle(int event) {
  // Mouse positions are read against the moved drawing area.
  const bool mouse = event == FL_PUSH || event == FL_DRAG || event == FL_RELEASE;
  if (mouse) Fl::e_x -= shift_;
  const int handled = Fl_Input::handle(event);
  if (mouse) Fl::e_x += shift_;
  // The text moves as it grows or shrinks: redraw all of it, not only the
  // changed characters.
  if (handled) redraw();
  return handled;
}

PictureBox::PictureBox(int x, int y, int w, int h, std::function<void()> on_press)
    : Fl_Box(x, y, w, h), on_press_(std::move(on_press)) {
  box(FL_FLAT_BOX);
  align(FL_ALIGN_INSIDE | FL_ALIGN_CENTER | FL_ALIGN_CLIP);
}

void PictureBox::set_picture(Picture picture) {
  image(nullptr);
  image_.reset();
  picture_ = std::move(picture);
  if (!picture_.empty()) {
    image_ =
        std::make_unique<Fl_RGB_Image>(picture_.rgb.data(), picture_.width, picture_.height, 3);
    image(image_.get());
  }
  redraw();
}

int PictureBox::handle(int event) {
  if (event == FL_PUSH && Fl::event_button() == FL_LEFT_MOUSE) {
    // The press may open a message box; the box keeps no state across it.
    if (on_press_) on_press_();
    return 1;
  }
  return Fl_Box::handle(event);
}

}  // namespace sharelink
