#pragma once

// Small pieces the windows share: the toolkit's text encoding at the
// boundary, message boxes and questions, text cut to fit, buttons and boxes of
// the layout, the close box, a line of text, the centred four-character
// answer box and the clickable picture box.

#include <functional>
#include <memory>
#include <string>

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_RGB_Image.H>

#include "app/desktop/captcha_picture.h"
#include "app/desktop/layout.h"

namespace sharelink {

// The window frame the toolkit's window manager adds around the client area:
// the window sizes of the layout are outer sizes.
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 29;

// Every window of the layout opens at 50, 50 of the screen.
constexpr int kWindowLeft = 50;
constexpr int kWindowTop = 50;

// The text of the log box and the lists.
constexpr Fl_Font kTextFont = FL_HELVETICA;
constexpr Fl_Fontsize kTextSize = 13;
// A notch of the mouse wheel moves the log box and the lists three rows.
constexpr int kWheelRows = 3;

// A message box with one OK button, modal for all windows of the program.
// Both texts are local text.
void show_message(const std::string& text, const std::string& caption);

// A question with 是 and 否, modal for all windows of the program; true for
// 是. Both texts are local text.
bool ask_question(const std::string& question, const std::string& caption);

// text (UTF-8) cut at a character so that it fits width pixels in the current
// font, with "…" after it when it was cut.
std::string fitted_text(const std::string& text, int width);

// A line of text drawn as it is: no "@" symbols, no "&" shortcuts, which a
// label would draw from a file name or a server's cause. Cut to fit.
class TextLine : public Fl_Box {
 public:
  TextLine(int x, int y, int w, int h);
  // Local text.
  void set_text(const std::string& text, Fl_Color colour = FL_FOREGROUND_COLOR);

 protected:
  void draw() override;

 private:
  std::string text_;  // UTF-8
  Fl_Color colour_ = FL_FOREGROUND_COLOR;
};

// A presenter's member as a control's callback, with the presenter as the
// control's user data: on_click<&MainPresenter::parse_clicked>.
template <typename Member>
struct MemberOf;
template <typename Presenter>
struct MemberOf<void (Presenter::*)()> {
  using Class = Presenter;
};
template <auto handler>
void on_click(Fl_Widget*, void* presenter) {
  using Presenter = typename MemberOf<decltype(handler)>::Class;
  (static_cast<Presenter*>(presenter)->*handler)();
}

// A button at its box of the layout; the caption is local text.
Fl_Button* make_button(const layout::Box& box, const std::string& caption, Fl_Callback* handler,
                       void* data);

// Moves a control to its box of the layout.
void place(Fl_Widget& widget, const layout::Box& box);

// In a window's callback: true when Escape called it, which closes a toolkit
// window by default. The layout's windows close only by their close boxes.
bool escape_pressed();

// The callback of a window that its close box hides.
void hide_on_close_box(Fl_Widget* window, void*);

// The callback of a window whose close box is a presenter's to answer, the
// presenter its user data: on_close_box<&MainPresenter::close_clicked>.
template <auto handler>
void on_close_box(Fl_Widget* window, void* presenter) {
  if (!escape_pressed()) on_click<handler>(window, presenter);
}

// Activates or deactivates a control.
void enable(Fl_Widget& widget, bool enabled);

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
