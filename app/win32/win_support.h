#pragma once

// Small pieces the Win32 windows share: local text at the wide-character
// boundary, control creation with the program's fonts, message boxes, the
// clipboard.

#include <windows.h>

#include <string>

namespace sharelink {

// Local text (GB18030) to UTF-16 and back. Every text that reaches or leaves a
// window goes through these, so Chinese shows on a Windows of any language.
std::wstring to_wide(const std::string& local);
std::string to_local(const std::wstring& wide);

// The whole text of a window or control, as local text.
std::string window_text(HWND window);
void set_window_text(HWND window, const std::string& local);

// The fonts of the layout's controls, made once: button and box captions, the
// log box, the short answer boxes.
enum class FontKind { label, log, answer };
HFONT control_font(FontKind kind);

// A child control of window at its place of the layout, in the font given.
HWND make_control(HWND window, const wchar_t* window_class, const wchar_t* text, DWORD style,
                  DWORD ex_style, int x, int y, int w, int h, int id,
                  FontKind font = FontKind::label);

// A message box with one OK button and no owner, modal for all windows of the
// program. Both texts are local text.
void show_message(const std::string& text, const std::string& caption);

// Puts text (local) on the clipboard as Unicode text; false when the clipboard
// could not be opened, which leaves it as it was.
bool put_on_clipboard(HWND owner, const std::string& text);

// A paste into the one-line edit box takes the clipboard's text whole, its
// lines joined by a space, where the control would cut it at its first line
// break.
void take_pastes_on_one_line(HWND edit);

// A top-level window at 50, 50 of the screen with the outer size the layout
// gives: the system's frame is part of that size, the controls sit in what it
// leaves. self is handed to the window procedure (window_object).
// Registers a window class of the program, once: a later call for the same
// name does nothing.
void register_window_class(const wchar_t* name, WNDPROC procedure, HICON icon = nullptr);

HWND make_top_window(const wchar_t* window_class, const std::string& caption, DWORD style,
                     int outer_width, int outer_height, HWND owner, void* self);

// The object a window of ours was made for (make_top_window's self), once
// WM_NCCREATE has passed it; null before.
template <typename T>
T* window_object(HWND window, UINT message, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    return self;
  }
  return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

}  // namespace sharelink
