#pragma once

// The two small windows the resolve job opens when the service wants an
// extraction code or a captcha. The job waits while one is open; the OK button
// stores a non-empty answer in the shared state and closes the window, the close
// box closes it storing nothing, so the job can tell an answer from giving up.

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/gui/captcha_load.h"

namespace sharelink {

class PromptWindow {
 public:
  PromptWindow(const PromptWindow&) = delete;
  PromptWindow& operator=(const PromptWindow&) = delete;

 protected:
  explicit PromptWindow(std::function<void()> on_closed) : on_closed_(std::move(on_closed)) {}
  virtual ~PromptWindow() = default;

  // Creates the window above owner, at its place of the layout, and shows it;
  // the object then lives as long as the window. False, with on_closed run,
  // when the system refused: the object is then the caller's to delete.
  bool open(HWND owner, int outer_width, int outer_height, const char* caption);

  // Removes every space from the typed answer; stores a non-empty result in
  // answer and closes, or shows empty_message and keeps the window open.
  void confirm(HWND box, std::string& answer, const char* empty_message);

  // The centred answer box and the OK button (Enter presses it) at their places.
  HWND make_answer_box(int x, int y, int w, int h, const std::string& text);
  HWND make_ok_button(int x, int y, int w, int h);

  virtual void make_controls() = 0;
  virtual void on_ok() = 0;
  // Messages of the window's own; true when handled.
  virtual bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);

  HWND window_ = nullptr;
  HWND answer_box_ = nullptr;

 private:
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);

  std::function<void()> on_closed_;
  bool opened_ = false;
};

class ExtractionCodeWindow : public PromptWindow {
 public:
  // The initial text is the code found with the link, else the sample code.
  static bool open(AppState& state, HWND owner, std::function<void()> on_closed);

 private:
  ExtractionCodeWindow(AppState& state, std::function<void()> on_closed)
      : PromptWindow(std::move(on_closed)), state_(state) {}
  void make_controls() override;
  void on_ok() override;

  AppState& state_;
  HWND 编辑框_提取密码 = nullptr;
  HWND 按钮1 = nullptr;
};

class CaptchaWindow : public PromptWindow {
 public:
  // Opens the window and fetches its first picture.
  static bool open(AppState& state, HWND owner, std::function<void()> on_closed);

 private:
  CaptchaWindow(AppState& state, std::function<void()> on_closed);
  ~CaptchaWindow() override;
  void make_controls() override;
  void on_ok() override;
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;

  // Fetches a new captcha of the kind the job's last result asks for, on a
  // thread of its own, and shows it when it arrives; a failure is told in a
  // message box and changes nothing. A press while one is on its way does
  // nothing: the window keeps answering, and its close box works at any time.
  void load_captcha();
  void poll_load();
  void show_loaded(CaptchaLoad& load);
  void draw_picture(const DRAWITEMSTRUCT& item) const;

  AppState& state_;
  // The fetch on its way, shared with its thread; null when none is.
  std::shared_ptr<CaptchaLoad> load_;
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
