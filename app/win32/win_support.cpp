#include "app/win32/win_support.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <utility>

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

namespace {

// Functions of later Windows versions, looked up where the program runs:
// GetDpiForWindow and the ...ForDpi functions came with Windows 10 1607,
// GetDpiForMonitor with 8.1.
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using SystemParametersInfoForDpiFunction = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);

template <typename Function>
Function system_function(const wchar_t* module, const char* name) {
  HMODULE loaded = GetModuleHandleW(module);
  if (!loaded) loaded = LoadLibraryW(module);
  // The cast every run-time lookup needs: the type is the function's own.
  return loaded ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(loaded, name)))
                : nullptr;
}

UINT screen_dpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kLayoutDpi;
}

// A size the system gives for its own DPI, at dpi: what systems without the
// ...ForDpi functions leave to the program.
int from_system_dpi(int value, UINT dpi) {
  return MulDiv(value, static_cast<int>(dpi), static_cast<int>(screen_dpi()));
}

SIZE frame_size(DWORD style, DWORD ex_style, UINT dpi) {
  static const auto for_dpi =
      system_function<AdjustWindowRectExForDpiFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
  RECT frame{0, 0, 0, 0};
  if (for_dpi && for_dpi(&frame, style, FALSE, ex_style, dpi)) {
    return {frame.right - frame.left, frame.bottom - frame.top};
  }
  // Older systems give the frame of the system's DPI, which is then the
  // window's too: another DPI gets it in proportion.
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  return {from_system_dpi(frame.right - frame.left, dpi),
          from_system_dpi(frame.bottom - frame.top, dpi)};
}

// The system's message font at dpi: the face and quality its dialogs use.
LOGFONTW message_font(UINT dpi) {
  static const auto for_dpi = system_function<SystemParametersInfoForDpiFunction>(
      L"user32.dll", "SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (for_dpi && for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
    return metrics.lfMessageFont;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    LOGFONTW font = metrics.lfMessageFont;
    font.lfHeight = from_system_dpi(font.lfHeight, dpi);
    return font;
  }
  // Systems before Vista know a smaller structure.
  metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
    return metrics.lfMessageFont;
  LOGFONTW font{};
  std::wcscpy(font.lfFaceName, L"Microsoft YaHei");
  return font;
}

}  // namespace

UINT window_dpi(HWND window) {
  static const auto for_window =
      system_function<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  if (for_window) {
    if (const UINT dpi = for_window(window)) return dpi;
  }
  // Windows 8.1 knows the DPI of each monitor, but not of a window.
  static const auto for_monitor =
      system_function<GetDpiForMonitorFunction>(L"shcore.dll", "GetDpiForMonitor");
  UINT x = 0, y = 0;
  constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
  if (for_monitor &&
      SUCCEEDED(for_monitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &x,
                            &y)) &&
      y > 0) {
    return y;
  }
  return screen_dpi();
}

int scale(int value, UINT dpi) {
  return MulDiv(value, static_cast<int>(dpi), static_cast<int>(kLayoutDpi));
}

SIZE layout_client(int outer_width, int outer_height, DWORD style, DWORD ex_style) {
  const SIZE layout_frame = frame_size(style & ~WS_THICKFRAME, ex_style, kLayoutDpi);
  return {outer_width - layout_frame.cx, outer_height - layout_frame.cy};
}

SIZE outer_size(int outer_width, int outer_height, DWORD style, DWORD ex_style, UINT dpi) {
  const SIZE client = layout_client(outer_width, outer_height, style, ex_style);
  const SIZE frame = frame_size(style & ~WS_THICKFRAME, ex_style, dpi);
  return {scale(client.cx, dpi) + frame.cx, scale(client.cy, dpi) + frame.cy};
}

WindowFonts::WindowFonts(UINT dpi) {
  // The face of the system's dialogs (and its font linking for Chinese where
  // the face has none), at the layout's sizes: the boxes were drawn for them
  // and do not grow, so a message font enlarged by the system's text size
  // would cut captions off. Both scale alike with the DPI.
  LOGFONTW font = message_font(dpi);
  font.lfWeight = FW_NORMAL;
  font.lfItalic = font.lfUnderline = font.lfStrikeOut = FALSE;
  constexpr int kPixels[] = {14, 13, 16};
  for (int kind = 0; kind < 3; ++kind) {
    font.lfHeight = -scale(kPixels[kind], dpi);
    font.lfWidth = 0;
    fonts_[kind] = CreateFontIndirectW(&font);
  }
}

WindowFonts::WindowFonts(WindowFonts&& other) noexcept {
  std::swap(fonts_, other.fonts_);
}

WindowFonts& WindowFonts::operator=(WindowFonts&& other) noexcept {
  if (this != &other) {
    release();
    std::swap(fonts_, other.fonts_);
  }
  return *this;
}

WindowFonts::~WindowFonts() {
  release();
}

void WindowFonts::release() {
  for (HFONT& font : fonts_) {
    if (font) DeleteObject(font);
    font = nullptr;
  }
}

HFONT WindowFonts::get(FontKind kind) const {
  const HFONT font = fonts_[static_cast<int>(kind)];
  return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

ScaledControls::~ScaledControls() {
  for (HICON icon : icons_) {
    if (icon) DestroyIcon(icon);
  }
}

void ScaledControls::start(HWND window, int outer_width, int outer_height) {
  window_ = window;
  outer_width_ = outer_width;
  outer_height_ = outer_height;
  dpi_ = window_dpi(window);
  fonts_ = WindowFonts(dpi_);
  show_icons();
}

void ScaledControls::show_icons() {
  static const auto for_dpi =
      system_function<GetSystemMetricsForDpiFunction>(L"user32.dll", "GetSystemMetricsForDpi");
  const auto metric = [this](int index) {
    return for_dpi ? for_dpi(index, dpi_) : from_system_dpi(GetSystemMetrics(index), dpi_);
  };
  const int sizes[2][2] = {{metric(SM_CXSMICON), metric(SM_CYSMICON)},
                           {metric(SM_CXICON), metric(SM_CYICON)}};
  for (int big = 0; big < 2; ++big) {
    const auto icon =
        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                      sizes[big][0], sizes[big][1], LR_DEFAULTCOLOR));
    if (!icon) continue;
    SendMessageW(window_, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    if (icons_[big]) DestroyIcon(icons_[big]);
    icons_[big] = icon;
  }
}

RECT ScaledControls::box(const layout::Box& box) const {
  const int left = scale(box.x), top = scale(box.y);
  // Both edges scaled, so that boxes side by side keep their gaps.
  return {left, top, scale(box.x + box.w), scale(box.y + box.h)};
}

HWND ScaledControls::make(const wchar_t* window_class, const wchar_t* text, DWORD style,
                          DWORD ex_style, const layout::Box& place, int id, FontKind font) {
  const RECT at = box(place);
  HWND control = CreateWindowExW(ex_style, window_class, text, WS_CHILD | WS_VISIBLE | style,
                                 at.left, at.top, at.right - at.left, at.bottom - at.top, window_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  if (!control) return nullptr;
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.get(font)), 0);
  controls_.push_back({control, place, font});
  return control;
}

HWND ScaledControls::make(const wchar_t* window_class, const std::string& text, DWORD style,
                          DWORD ex_style, const layout::Box& place, int id, FontKind font) {
  return make(window_class, to_wide(text).c_str(), style, ex_style, place, id, font);
}

bool ScaledControls::on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  if (message == WM_GETDPISCALEDSIZE) {
    // The size this window has at the new DPI, rather than the system's guess
    // by proportion, so the suggested rectangle of WM_DPICHANGED is exact.
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE));
    const DWORD ex_style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE));
    const auto new_dpi = static_cast<UINT>(wparam);
    SIZE size = outer_size(outer_width_, outer_height_, style, ex_style, new_dpi);
    if (style & WS_THICKFRAME) {
      const SIZE grown = growth();
      const SIZE frame = frame_size(style, ex_style, new_dpi);
      const SIZE client = layout_client(outer_width_, outer_height_, style, ex_style);
      size = {sharelink::scale(client.cx + grown.cx, new_dpi) + frame.cx,
              sharelink::scale(client.cy + grown.cy, new_dpi) + frame.cy};
    }
    *reinterpret_cast<SIZE*>(lparam) = size;
    result = TRUE;
    return true;
  }
  if (message != WM_DPICHANGED) return false;
  const UINT dpi = HIWORD(wparam);
  if (dpi == 0) return false;
  dpi_ = dpi;
  // The controls take the new fonts before the old ones go.
  WindowFonts fonts(dpi);
  const RECT& suggested = *reinterpret_cast<const RECT*>(lparam);
  SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  for (const Placed& placed : controls_) {
    const RECT at = box(placed.box);
    SetWindowPos(placed.control, nullptr, at.left, at.top, at.right - at.left, at.bottom - at.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(placed.control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.get(placed.font)),
                 TRUE);
  }
  fonts_ = std::move(fonts);
  show_icons();
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  result = 0;
  return true;
}

void ScaledControls::place(std::initializer_list<std::pair<HWND, layout::Box>> moves) {
  for (const auto& [control, moved_to] : moves) {
    for (Placed& placed : controls_) {
      if (placed.control != control) continue;
      placed.box = moved_to;
      const RECT at = box(moved_to);
      SetWindowPos(control, nullptr, at.left, at.top, at.right - at.left, at.bottom - at.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      break;
    }
  }
  // Controls that moved leave their old places to the window's face, which
  // the system does not paint again on its own.
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

SIZE ScaledControls::growth() const {
  if (!window_) return {0, 0};
  RECT client{};
  GetClientRect(window_, &client);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE));
  const SIZE layout = layout_client(outer_width_, outer_height_, style, ex_style);
  const auto at_layout = [this](LONG pixels) {
    return MulDiv(static_cast<int>(pixels), static_cast<int>(kLayoutDpi), static_cast<int>(dpi_));
  };
  return {at_layout(client.right) - layout.cx, at_layout(client.bottom) - layout.cy};
}

void ScaledControls::limit(MINMAXINFO& info, int outer_width, int outer_height) const {
  // It comes before WM_CREATE, when the window's DPI is not known yet.
  if (!window_) return;
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE));
  const SIZE smallest = outer_size(outer_width, outer_height, style, ex_style, dpi_);
  info.ptMinTrackSize = {smallest.cx, smallest.cy};
}

void show_message(const std::string& text, const std::string& caption, HWND back_to) {
  MessageBoxW(nullptr, to_wide(text).c_str(), to_wide(caption).c_str(),
              MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
  if (back_to && IsWindow(back_to)) SetActiveWindow(back_to);
}

bool ask_yes_no(const std::string& question, const std::string& caption, HWND back_to) {
  const bool yes =
      MessageBoxW(nullptr, to_wide(question).c_str(), to_wide(caption).c_str(),
                  MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND) == IDYES;
  if (back_to && IsWindow(back_to)) SetActiveWindow(back_to);
  return yes;
}

LRESULT white_edit_box(WPARAM dc) {
  SetTextColor(reinterpret_cast<HDC>(dc), RGB(0, 0, 0));
  SetBkColor(reinterpret_cast<HDC>(dc), RGB(255, 255, 255));
  return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}

void copy_item_text(const std::string& local, LVITEMW& item) {
  if (!item.pszText || item.cchTextMax <= 0) return;
  const std::wstring wide = to_wide(local);
  const std::size_t room = static_cast<std::size_t>(item.cchTextMax) - 1;
  const std::size_t length = std::min(wide.size(), room);
  std::wmemcpy(item.pszText, wide.data(), length);
  item.pszText[length] = L'\0';
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

void register_window_class(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
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
  HWND window =
      CreateWindowExW(0, window_class, to_wide(caption).c_str(), style, kLeft, kTop, outer_width,
                      outer_height, owner, nullptr, GetModuleHandleW(nullptr), self);
  if (!window) return nullptr;
  // Its DPI is known once it exists, on the monitor it was put on.
  const SIZE size = outer_size(outer_width, outer_height, style, 0, window_dpi(window));
  SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return window;
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
