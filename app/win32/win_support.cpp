#include "app/win32/win_support.h"

#include <commctrl.h>

#include <cstring>

#include "app/share_text.h"
#include "text/text_encoding.h"

namespace sharelink {

std::wstring to_wide(const std::string& local) {
  const Bytes units = gbk_to_utf16(local, true);
  std::wstring wide(units.size() / 2, L'\0');
  std::memcpy(wide.data(), units.data(), wide.size() * sizeof(wchar_t));
  return wide;
}

std::string to_local(const std::wstring& wide) {
  return utf16_to_gbk(
      Bytes(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t)));
}

std::string window_text(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return to_local(text);
}

void set_window_text(HWND window, const std::string& local) {
  SetWindowTextW(window, to_wide(local).c_str());
}

HFONT control_font(FontKind kind) {
  // The sizes of the toolkit window on Linux; a face every Chinese Windows has,
  // which font linking stands in for elsewhere.
  static const HFONT fonts[] = {
      CreateFontW(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Microsoft YaHei"),
      CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Microsoft YaHei"),
      CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Microsoft YaHei"),
  };
  const HFONT font = fonts[static_cast<int>(kind)];
  return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

HWND make_control(HWND window, const wchar_t* window_class, const wchar_t* text, DWORD style,
                  DWORD ex_style, int x, int y, int w, int h, int id, FontKind font) {
  HWND control = CreateWindowExW(ex_style, window_class, text, WS_CHILD | WS_VISIBLE | style, x, y,
                                 w, h, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(control_font(font)), 0);
  return control;
}

void show_message(const std::string& text, const std::string& caption) {
  MessageBoxW(nullptr, to_wide(text).c_str(), to_wide(caption).c_str(),
              MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
}

bool put_on_clipboard(HWND owner, const std::string& text) {
  const std::wstring wide = to_wide(text);
  const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!memory) return false;
  if (void* target = GlobalLock(memory)) {
    std::memcpy(target, wide.c_str(), bytes);
    GlobalUnlock(memory);
  }
  if (!OpenClipboard(owner)) {
    GlobalFree(memory);
    return false;
  }
  EmptyClipboard();
  // The clipboard owns the memory once it took it.
  const bool taken = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  CloseClipboard();
  if (!taken) GlobalFree(memory);
  return taken;
}

void register_window_class(const wchar_t* name, WNDPROC procedure, HICON icon) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hIcon = icon;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = name;
  // A second registration fails harmlessly with ERROR_CLASS_ALREADY_EXISTS.
  RegisterClassExW(&window_class);
}

HWND make_top_window(const wchar_t* window_class, const std::string& caption, DWORD style,
                     int outer_width, int outer_height, HWND owner, void* self) {
  // Every window of the layout opens at 50, 50 of the screen.
  constexpr int kLeft = 50;
  constexpr int kTop = 50;
  return CreateWindowExW(0, window_class, to_wide(caption).c_str(), style, kLeft, kTop, outer_width,
                         outer_height, owner, nullptr, GetModuleHandleW(nullptr), self);
}

namespace {

std::wstring clipboard_text(HWND owner) {
  std::wstring text;
  if (!OpenClipboard(owner)) return text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* units = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = units;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

LRESULT CALLBACK one_line_paste(HWND edit, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                DWORD_PTR) {
  if (message == WM_PASTE) {
    // No text on the clipboard: the control's own paste, which keeps the selection.
    const std::wstring text = clipboard_text(edit);
    if (text.empty()) return DefSubclassProc(edit, message, wparam, lparam);
    const std::wstring line = to_wide(one_line(to_local(text)));
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(line.c_str()));
    return 0;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(edit, one_line_paste, 1);
  return DefSubclassProc(edit, message, wparam, lparam);
}

}  // namespace

void take_pastes_on_one_line(HWND edit) {
  SetWindowSubclass(edit, one_line_paste, 1, 0);
}

}  // namespace sharelink
