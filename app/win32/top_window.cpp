#include "app/win32/top_window.h"

namespace sharelink {

bool TopWindow::make_window(const wchar_t* window_class, const std::string& caption, DWORD style,
                            int outer_width, int outer_height, HWND owner, bool owned) {
  register_window_class(window_class, window_proc);
  if (!make_top_window(window_class, caption, style, outer_width, outer_height, owner, this))
    return false;
  // Not before: a window the system refused after WM_NCCREATE has had its
  // WM_NCDESTROY, and the caller still deletes the object.
  owned_ = owned;
  return true;
}

LRESULT CALLBACK TopWindow::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = window_object<TopWindow>(window, message, lparam);
  if (!self) return DefWindowProcW(window, message, wparam, lparam);
  if (message == WM_NCCREATE) self->window_ = window;
  if (message != WM_NCDESTROY) return self->handle_message(message, wparam, lparam);
  self->window_ = nullptr;
  if (self->owned_) delete self;
  return DefWindowProcW(window, message, wparam, lparam);
}

bool TopWindow::keep_focus(UINT message, WPARAM wparam, LPARAM lparam, HWND fallback,
                           LRESULT& result) {
  if (message == WM_ACTIVATE) {
    if (LOWORD(wparam) == WA_INACTIVE) {
      const HWND focus = GetFocus();
      if (focus && IsChild(window_, focus)) last_focus_ = focus;
    }
    result = DefWindowProcW(window_, message, wparam, lparam);
    return true;
  }
  if (message != WM_SETFOCUS) return false;
  SetFocus(last_focus_ && IsWindowEnabled(last_focus_) ? last_focus_ : fallback);
  result = 0;
  return true;
}

bool TopWindow::set_timer(UINT_PTR id, std::chrono::milliseconds delay) {
  return window_ && SetTimer(window_, id, static_cast<UINT>(delay.count()), nullptr);
}

}  // namespace sharelink
