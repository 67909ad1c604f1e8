#pragma once

// The two prompt windows on FLTK, drawn here and run by their presenters.

#include <chrono>
#include <functional>
#include <string>

#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>

#include "app/app_state.h"
#include "app/desktop/layout.h"
#include "app/desktop/prompt_presenters.h"
#include "app/fltk/widgets.h"

namespace sharelink {

// What both prompt windows are: a caption, an answer box and 确定.
class PromptWindow : public Fl_Double_Window, public PromptView {
 public:
  // Tells the presenter the window has closed, by either way, and then lets
  // the toolkit delete the window.
  void hide() override;

  std::string answer_text() const override { return answer_box_->local_value(); }
  void set_answer_text(const std::string& text) override { answer_box_->set_local_value(text); }
  void show_message(const std::string& text, const std::string& caption) override;
  void close() override { hide(); }

 protected:
  PromptWindow(int outer_width, const char* caption);
  // The answer box and the OK button (Enter presses it too) at their places;
  // the button calls the presenter's ok_clicked.
  CentredInput* make_answer_box(const layout::Box& box, const std::string& text);
  Fl_Button* make_ok_button(const layout::Box& box);

  PromptPresenter* presenter_ = nullptr;

 private:
  CentredInput* answer_box_ = nullptr;
};

class ExtractionCodeWindow : public PromptWindow {
 public:
  ExtractionCodeWindow(AppState& state, std::function<void()> on_closed);

 private:
  ExtractionCodePresenter presenter_of_window_;
  CentredInput* 编辑框_提取密码;
  Fl_Button* 按钮1;
};

class CaptchaWindow : public PromptWindow, public CaptchaView {
 public:
  CaptchaWindow(AppState& state, std::function<void()> on_closed);
  ~CaptchaWindow() override;

  CaptchaPresenter& presenter() { return presenter_of_window_; }

  void show_picture(Picture picture) override;
  bool schedule(std::chrono::milliseconds delay) override;

 private:
  static void on_timer(void* window);

  CaptchaPresenter presenter_of_window_;
  PictureBox* 图片框_验证码;
  CentredInput* 编辑框_验证码;
  Fl_Button* 按钮1;
};

// Main thread: create the window anew, show it (the captcha window then fetches
// its first picture) and return; on_closed runs when it has closed.
void open_extraction_code_window(AppState& state, std::function<void()> on_closed);
void open_captcha_window(AppState& state, std::function<void()> on_closed);

}  // namespace sharelink
