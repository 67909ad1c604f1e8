#pragma once

// The two small windows the resolve job opens when the service wants an
// extraction code or a captcha. The job waits while one is open; the OK button
// stores a non-empty answer in the shared state and closes the window, the close
// box closes it storing nothing, so the job can tell an answer from giving up.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>

#include "app/app_state.h"
#include "app/gui/captcha_load.h"
#include "app/gui/widgets.h"

namespace sharelink {

class PromptWindow : public Fl_Double_Window {
 public:
  // Runs on_closed once, when the window closes by either way, and then lets
  // the toolkit delete the window.
  void hide() override;

 protected:
  PromptWindow(int outer_width, int outer_height, const char* caption,
               std::function<void()> on_closed);

  // Removes every space from the typed answer; stores a non-empty result in
  // answer and closes, or shows empty_message and keeps the window open.
  void confirm(const CentredInput& box, std::string& answer, const char* empty_message);

  // The OK button at its place of the layout; Enter presses it too.
  Fl_Button* make_ok_button(int x, int y, int w, int h, Fl_Callback* on_click);

 private:
  std::function<void()> on_closed_;
};

class ExtractionCodeWindow : public PromptWindow {
 public:
  // The initial text is the code found with the link, else the sample code.
  ExtractionCodeWindow(AppState& state, std::function<void()> on_closed);

 private:
  void on_extraction_code_ok();

  AppState& state_;
  CentredInput* 编辑框_提取密码;
  Fl_Button* 按钮1;
};

class CaptchaWindow : public PromptWindow {
 public:
  CaptchaWindow(AppState& state, std::function<void()> on_closed);

  ~CaptchaWindow() override;

  // Fetches a new captcha of the kind the job's last result asks for, on a
  // thread of its own, and shows it when it arrives; a failure is told in a
  // message box and changes nothing. A press while one is on its way does
  // nothing: the window keeps answering, and its close box works at any time.
  void load_captcha();

 private:
  static void on_poll(void* window);
  void show_loaded(CaptchaLoad& load);
  void on_captcha_ok();

  AppState& state_;
  // The fetch on its way, shared with its thread; null when none is.
  std::shared_ptr<CaptchaLoad> load_;
  PictureBox* 图片框_验证码;
  CentredInput* 编辑框_验证码;
  Fl_Button* 按钮1;
};

// Main thread: create the window anew, show it (the captcha window then fetches
// its first picture) and return; on_closed runs when it has closed.
void open_extraction_code_window(AppState& state, std::function<void()> on_closed);
void open_captcha_window(AppState& state, std::function<void()> on_closed);

}  // namespace sharelink
