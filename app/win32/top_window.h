#pragma once

// What every top-level window of the program does alike: its class and
// window procedure, the object it was made for (deleted with the window when
// the window owns it), the controls at their places of the layout, and the
// control that gets the keyboard back when the window is activated again.

#include <windows.h>

#include <chrono>
#include <string>

#include "app/win32/win_support.h"

namespace sharelink {

class TopWindow {
 public:
  TopWindow(const TopWindow&) = delete;
  TopWindow& operator=(const TopWindow&) = delete;

 protected:
  TopWindow() = default;
  virtual ~TopWindow() = default;

  // Registers the class, once, and makes the window (make_top_window), not
  // yet shown; false when the system refused, the object then still the
  // caller's. With owned, the window owns the object from here on and deletes
  // it when it goes, whoever destroys it.
  bool make_window(const wchar_t* window_class, const std::string& caption, DWORD style,
                   int outer_width, int outer_height, HWND owner, bool owned);

  // The window's messages from WM_NCCREATE on, window_ set; WM_NCDESTROY is
  // not passed on: window_ is null after it.
  virtual LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam) = 0;

  // WM_ACTIVATE keeps the control that has the keyboard as the window is
  // left; WM_SETFOCUS gives it back, or fallback when it has gone grey. True
  // when message was one of them, with what to return in result.
  bool keep_focus(UINT message, WPARAM wparam, LPARAM lparam, HWND fallback, LRESULT& result);

  // A WM_TIMER with this id after delay; false when the window is gone or the
  // system refused.
  bool set_timer(UINT_PTR id, std::chrono::milliseconds delay);

  HWND window_ = nullptr;
  ScaledControls controls_;
  // The control keep_focus gives the keyboard back to; the window sets the
  // first.
  HWND last_focus_ = nullptr;

 private:
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  bool owned_ = false;
};

}  // namespace sharelink
