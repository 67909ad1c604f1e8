#pragma once

// The two prompt windows on Win32, drawn here and run by their presenters.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

#include "app/app_state.h"
#include "app/desktop/layout.h"
#include "app/desktop/prompt_presenters.h"
#include "app/win32/top_window.h"
#include "app/win32/win_support.h"

namespace sharelink {

// What both prompt windows are: a caption, an answer box and 确定, owned by
// the main window.
class PromptWindow : public TopWindow, public PromptView {
 public:
  std::string answer_text() const override;
  void set_answer_text(const std::string& text) override;
  void show_message(const std::string& text, const std::string& caption) override;
  void close() override { DestroyWindow(window_); }

 protected:
  PromptWindow() = default;
  ~PromptWindow() override = default;

  // Creates the window above owner, at its place of the layout, and shows it;
  // the object then lives as long as the window. False, with the presenter
  // told of the closing, when the system refused: the object is then the
  // caller's to delete.
  bool open(HWND owner, int outer_width, const char* caption);

  // The centred answer box and the OK button (Enter presses it) at their places.
  HWND make_answer_box(const layout::Box& box, const std::string& text);
  HWND make_ok_button(const layout::Box& box);

  virtual PromptPresenter& presenter() = 0;
  virtual void make_controls() = 0;
  // Messages of the window's own; true when handled.
  virtual bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);

 private:
  LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam) override;

  HWND answer_box_ = nullptr;
  int outer_width_ = 0;
};

class ExtractionCodeWindow : public PromptWindow {
 public:
  static bool open(AppState& state, HWND owner, std::function<void()> on_closed);

 private:
  ExtractionCodeWindow(AppState& state, std::function<void()> on_closed)
      : presenter_(state, *this, std::move(on_closed)) {}
  PromptPresenter& presenter() override { return presenter_; }
  void make_controls() override;

  ExtractionCodePresenter presenter_;
  HWND 编辑框_提取密码 = nullptr;
  HWND 按钮1 = nullptr;
};

class CaptchaWindow : public PromptWindow, public CaptchaView {
 public:
  // Opens the window and fetches its first picture.
  static bool open(AppState& state, HWND owner, std::function<void()> on_closed);

  void show_picture(Picture picture) override;
  bool schedule(std::chrono::milliseconds delay) override;

 private:
  CaptchaWindow(AppState& state, std::function<void()> on_closed);
  ~CaptchaWindow() override;
  PromptPresenter& presenter() override { return presenter_; }
  void make_controls() override;
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;
  void draw_picture(const DRAWITEMSTRUCT& item) const;

  CaptchaPresenter presenter_;
  HBITMAP picture_ = nullptr;
  int picture_width_ = 0;
  int picture_height_ = 0;
  HWND 图片框_验证码 = nullptr;
  HWND 编辑框_验证码 = nullptr;
  HWND 按钮1 = nullptr;
};

// Main thread: create the window anew above owner, show it (the captcha window
// then fetches its first picture) and return; on_closed runs when it has
// closed, or at once when it could not be opened.
void open_extraction_code_window(AppState& state, HWND owner, std::function<void()> on_closed);
void open_captcha_window(AppState& state, HWND owner, std::function<void()> on_closed);

}  // namespace sharelink
