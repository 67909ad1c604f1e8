#include "app/fltk/widgets.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>

#include "text/text_encoding.h"

namespace sharelink {

void show_message(const std::string& text, const std::string& caption) {
  fl_message_title(gbk_to_utf8(caption).c_str());
  fl_message("%s", gbk_to_utf8(text).c_str());
}

bool ask_question(const std::string& question, const std::string& caption) {
  fl_message_title(gbk_to_utf8(caption).c_str());
  // The first button stands at the right and answers Escape and the close box.
  return fl_choice("%s", u8"否", u8"是", nullptr, gbk_to_utf8(question).c_str()) == 1;
}

std::string fitted_text(const std::string& text, int width) {
  if (fl_width(text.c_str(), static_cast<int>(text.size())) <= width) return text;
  static const char kEllipsis[] = u8"\u2026";
  const double room = width - fl_width(kEllipsis);
  std::vector<int> ends;  // byte counts that end a character
  for (std::size_t at = 1; at <= text.size(); ++at) {
    if (at == text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) {
      ends.push_back(static_cast<int>(at));
    }
  }
  // The widths grow with the length: the longest prefix that fits.
  std::size_t low = 0, high = ends.size();
  while (low < high) {
    const std::size_t middle = (low + high) / 2;
    if (fl_width(text.c_str(), ends[middle]) <= room) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return text.substr(0, low == 0 ? 0 : ends[low - 1]) + kEllipsis;
}

TextLine::TextLine(int x, int y, int w, int h) : Fl_Box(x, y, w, h) {
  box(FL_FLAT_BOX);
}

void TextLine::set_text(const std::string& text, Fl_Color colour) {
  std::string utf8 = gbk_to_utf8(text);
  if (utf8 == text_ && colour == colour_) return;
  text_ = std::move(utf8);
  colour_ = colour;
  redraw();
}

void TextLine::draw() {
  draw_box();
  constexpr int kPad = 4;
  fl_font(labelfont(), labelsize());
  fl_color(active_r() ? colour_ : fl_inactive(colour_));
  const std::string shown = fitted_text(text_, w() - 2 * kPad);
  fl_draw(shown.c_str(), x() + kPad, y(), w() - 2 * kPad, h(), FL_ALIGN_LEFT | FL_ALIGN_CLIP,
          nullptr, 0);
}

Fl_Button* make_button(const layout::Box& box, const std::string& caption, Fl_Callback* handler,
                       void* data) {
  auto* button = new Fl_Button(box.x, box.y, box.w, box.h);
  button->copy_label(gbk_to_utf8(caption).c_str());
  button->callback(handler, data);
  return button;
}

void place(Fl_Widget& widget, const layout::Box& box) {
  widget.resize(box.x, box.y, box.w, box.h);
}

bool escape_pressed() {
  return Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape;
}

void hide_on_close_box(Fl_Widget* window, void*) {
  if (!escape_pressed()) window->hide();
}

void enable(Fl_Widget& widget, bool enabled) {
  if (enabled) {
    widget.activate();
  } else {
    widget.deactivate();
  }
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
