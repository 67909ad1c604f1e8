#pragma once

// Small pieces the Win32 windows share: local text at the wide-character
// boundary, control creation with the program's fonts, message boxes, the
// clipboard.

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop/layout.h"

namespace sharelink {

// Local text (GB18030) to UTF-16 and back. Every text that reaches or leaves a
// window goes through these, so Chinese shows on a Windows of any language.
std::wstring to_wide(const std::string& local);
std::string to_local(const std::wstring& wide);

// The whole text of a window or control, as local text.
std::string window_text(HWND window);
void set_window_text(HWND window, const std::string& local);

// The layout's pixels are those of a display at 96 DPI; a window shows them
// at its own DPI.
constexpr UINT kLayoutDpi = 96;

// The DPI the window is drawn at: the monitor's for a program aware of each
// monitor, the system's for one aware of the system only, 96 for one that
// is not aware (the system stretches its windows).
UINT window_dpi(HWND window);
// value pixels at 96 DPI, at dpi.
int scale(int value, UINT dpi);
// The outer size of a window of this style whose layout gives outer_width
// and outer_height at 96 DPI: the client area the 96-DPI frame leaves,
// scaled, in the frame of dpi. The layout's sizes are those of a fixed frame:
// a window that can be resized opens at the same outer size, and its wider
// frame takes from the client area, which its controls give up (growth()).
SIZE outer_size(int outer_width, int outer_height, DWORD style, DWORD ex_style, UINT dpi);
// The client area of that layout in a fixed frame, at 96 DPI.
SIZE layout_client(int outer_width, int outer_height, DWORD style, DWORD ex_style);

// The kinds of text of the layout's controls: button and box captions, the
// log box, the short answer boxes.
enum class FontKind { label, log, answer };

// The fonts of one window at one DPI, in the face of the system's message
// font. Each window keeps its own and replaces them when its DPI changes.
class WindowFonts {
 public:
  WindowFonts() = default;
  explicit WindowFonts(UINT dpi);
  WindowFonts(WindowFonts&& other) noexcept;
  WindowFonts& operator=(WindowFonts&& other) noexcept;
  WindowFonts(const WindowFonts&) = delete;
  WindowFonts& operator=(const WindowFonts&) = delete;
  ~WindowFonts();

  // A stock font when one could not be made.
  HFONT get(FontKind kind) const;

 private:
  void release();
  HFONT fonts_[3] = {};
};

// The controls of one top-level window at their places of the layout, in
// fonts of the window's DPI; placed anew, with new fonts, when that changes.
class ScaledControls {
 public:
  ScaledControls() = default;
  ScaledControls(const ScaledControls&) = delete;
  ScaledControls& operator=(const ScaledControls&) = delete;
  ~ScaledControls();

  // At WM_CREATE: the window's DPI and layout size (outer, at 96 DPI).
  void start(HWND window, int outer_width, int outer_height);
  // A child control at its box of the layout. ex_style WS_EX_CLIENTEDGE draws
  // the sunken edge of a box.
  HWND make(const wchar_t* window_class, const wchar_t* text, DWORD style, DWORD ex_style,
            const layout::Box& box, int id, FontKind font = FontKind::label);
  // The same with its text local.
  HWND make(const wchar_t* window_class, const std::string& text, DWORD style, DWORD ex_style,
            const layout::Box& box, int id, FontKind font = FontKind::label);
  // WM_GETDPISCALEDSIZE and WM_DPICHANGED; true when message was one of them.
  // A window that can be resized keeps its client area's size in 96-DPI
  // pixels across a DPI change, one of a fixed frame its layout's.
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);

  // Moves controls made here to other boxes of the layout, which they keep
  // when the DPI changes, and paints the window again.
  void place(std::initializer_list<std::pair<HWND, layout::Box>> moves);
  // How much wider and taller than the layout's the client area is now, in
  // 96-DPI pixels; negative when smaller.
  SIZE growth() const;
  // WM_GETMINMAXINFO: the window is never smaller than this outer size of
  // the layout.
  void limit(MINMAXINFO& info, int outer_width, int outer_height) const;

  // value pixels of the layout at the window's DPI.
  int scale(int value) const { return sharelink::scale(value, dpi_); }
  UINT dpi() const { return dpi_; }

 private:
  RECT box(const layout::Box& box) const;
  // The program icon in the caption and on the taskbar, drawn for the
  // window's DPI: a class icon would be drawn for the system's, which the
  // monitor the window is on may not have.
  void show_icons();
  struct Placed {
    HWND control;
    layout::Box box;
    FontKind font;
  };
  HWND window_ = nullptr;
  int outer_width_ = 0, outer_height_ = 0;
  UINT dpi_ = kLayoutDpi;
  WindowFonts fonts_;
  std::vector<Placed> controls_;
  HICON icons_[2] = {};  // small, big; the window's own, once it has any
};

// A message box with one OK button and no owner, modal for all windows of the
// program. Both texts are local text. A box of no owner hands the activation
// to no one when it goes: back_to, when still there, gets it back, and with
// it the keyboard for the control that had it.
void show_message(const std::string& text, const std::string& caption, HWND back_to = nullptr);

// A question with 是 and 否, modal for all windows of the program as
// show_message is; true for 是.
bool ask_yes_no(const std::string& question, const std::string& caption, HWND back_to = nullptr);

// WM_CTLCOLOREDIT: the layout's edit boxes are black on white.
LRESULT white_edit_box(WPARAM dc);

// An owner-data list's LVN_GETDISPINFOW: local text into the item's buffer,
// cut to fit.
void copy_item_text(const std::string& local, LVITEMW& item);

// Puts text (local) on the clipboard as Unicode text; false when the clipboard
// could not be opened, which leaves it as it was.
bool put_on_clipboard(HWND owner, const std::string& text);

// A paste into the one-line edit box takes the clipboard's text whole, its
// lines joined by a space, where the control would cut it at its first line
// break.
void take_pastes_on_one_line(HWND edit);

// Registers a window class of the program, once: a later call for the same
// name does nothing. The class has no icon: each window shows the program's
// (resource 1) at its own DPI (ScaledControls), as Explorer shows it for the
// file.
void register_window_class(const wchar_t* name, WNDPROC procedure);

// A top-level window at 50, 50 of the screen with the outer size the layout
// gives at 96 DPI (the system's frame is part of that size, the controls sit
// in what it leaves), scaled to the window's DPI. self is handed to the
// window procedure (window_object).
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
