#pragma once

// Small pieces the three windows share: the toolkit's text encoding at the
// boundary, message boxes, the centred four-character answer box and the
// clickable picture box.

#include <functional>
#include <memory>
#include <string>

#include <FL/Fl_Box.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_RGB_Image.H>

#include "app/desktop/captcha_picture.h"

namespace sharelink {

// The window frame the toolkit's window manager adds around the client area:
// the window sizes of the layout are outer sizes.
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 29;

// A message box with one OK button, modal for all windows of the program.
// Both texts are local text.
void show_message(const std::string& text, const std::string& caption);

// Gives an edit box the look of the layout: black text on white.
void style_edit_box(Fl_Widget& box, Fl_Color text_colour = FL_BLACK);

// A one-line edit box for a short answer, its text drawn centred.
class CentredInput : public Fl_Input {
 public:
  CentredInput(int x, int y, int w, int h, int max_chars);
  // Local text in and out.
  std::string local_value() const;
  void set_local_value(const std::string& text);

 protected:
  void draw() override;
  int handle(int event) override;

 private:
  int shift_ = 0;  // how far the text is moved right to centre it
};

// A picture box that runs on_press when the left mouse button is pressed on it.
class PictureBox : public Fl_Box {
 public:
  PictureBox(int x, int y, int w, int h, std::function<void()> on_press);
  // An empty picture removes the shown one.
  void set_picture(Picture picture);
  bool has_picture() const { return image_ != nullptr; }

 protected:
  int handle(int event) override;

 private:
  std::function<void()> on_press_;
  Picture picture_;  // the pixels image_ points into
  std::unique_ptr<Fl_RGB_Image> image_;
};

}  // namespace sharelink
