#include "app/win32/prompt_windows.h"

#include <objbase.h>

#include <utility>

#include "app/app_texts.h"
#include "app/share_text.h"
#include "app/win32/wic_picture.h"
#include "app/win32/win_support.h"
#include "share/result_codes.h"
#include "share/share_client.h"

namespace sharelink {

namespace {

constexpr wchar_t kWindowClass[] = L"sharelink.prompt";
constexpr int kPictureId = 100;
constexpr UINT_PTR kLoadTimer = 1;

// The imaging component is free-threaded: the fetching thread's own apartment
// keeps a hostile picture's decoding off the window's thread.
Picture decode_in_own_apartment(const Bytes& bytes) {
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  Picture picture = decode_with_wic(bytes);
  if (com) CoUninitialize();
  return picture;
}

// A device-independent bitmap of the picture; null for an empty picture.
HBITMAP make_bitmap(const Picture& picture) {
  if (picture.empty()) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;  // rows top down, as the picture has them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return nullptr;
  auto* out = static_cast<unsigned char*>(bits);
  for (std::size_t pixel = 0, count = picture.rgb.size() / 3; pixel < count; ++pixel) {
    out[pixel * 4] = picture.rgb[pixel * 3 + 2];
    out[pixel * 4 + 1] = picture.rgb[pixel * 3 + 1];
    out[pixel * 4 + 2] = picture.rgb[pixel * 3];
    out[pixel * 4 + 3] = 0;
  }
  return bitmap;
}

}  // namespace

bool PromptWindow::open(HWND owner, int outer_width, const char* caption) {
  outer_width_ = outer_width;
  // Owned by the main window: always above it, and gone with it. The close box
  // is the way to give up; there is nothing to resize.
  if (!make_window(kWindowClass, caption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, outer_width,
                   layout::kPromptHeight, owner, true)) {
    presenter().closed();
    return false;
  }
  ShowWindow(window_, SW_SHOW);
  return true;
}

LRESULT PromptWindow::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result = 0;
  if (controls_.on_message(message, wparam, lparam, result)) return result;
  if (on_message(message, wparam, lparam, result)) return result;
  switch (message) {
    case WM_CREATE:
      controls_.start(window_, outer_width_, layout::kPromptHeight);
      make_controls();
      return 0;
    case WM_COMMAND:
      // Enter reaches here as IDOK; Escape, as IDCANCEL, closes nothing.
      if (LOWORD(wparam) == IDOK && HIWORD(wparam) == BN_CLICKED) presenter().ok_clicked();
      return 0;
    case WM_SETFOCUS:
      SetFocus(answer_box_);
      return 0;
    case WM_CTLCOLOREDIT:
      return white_edit_box(wparam);
    case WM_DESTROY:
      // Whoever waits learns of the closing once the answer, if any, is stored.
      presenter().closed();
      return 0;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

bool PromptWindow::on_message(UINT, WPARAM, LPARAM, LRESULT&) {
  return false;
}

void PromptWindow::show_message(const std::string& text, const std::string& caption) {
  sharelink::show_message(text, caption);
}

std::string PromptWindow::answer_text() const {
  return window_text(answer_box_);
}

void PromptWindow::set_answer_text(const std::string& text) {
  set_window_text(answer_box_, text);
}

HWND PromptWindow::make_answer_box(const layout::Box& box, const std::string& text) {
  answer_box_ = controls_.make(L"EDIT", text, WS_TABSTOP | ES_CENTER | ES_AUTOHSCROLL,
                               WS_EX_CLIENTEDGE, box, 0, FontKind::answer);
  SendMessageW(answer_box_, EM_SETLIMITTEXT, layout::kAnswerChars, 0);
  return answer_box_;
}

HWND PromptWindow::make_ok_button(const layout::Box& box) {
  return controls_.make(L"BUTTON", L"确定", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, box, IDOK);
}

bool ExtractionCodeWindow::open(AppState& state, HWND owner, std::function<void()> on_closed) {
  auto* window = new ExtractionCodeWindow(state, std::move(on_closed));
  if (window->PromptWindow::open(owner, layout::kCodeWidth, kCodeTitle)) return true;
  delete window;
  return false;
}

void ExtractionCodeWindow::make_controls() {
  编辑框_提取密码 = make_answer_box(layout::kCodeBox, presenter_.initial_answer());
  按钮1 = make_ok_button(layout::kCodeOk);
}

CaptchaWindow::CaptchaWindow(AppState& state, std::function<void()> on_closed)
    : presenter_(state, *this, *this, decode_in_own_apartment, std::move(on_closed)) {}

CaptchaWindow::~CaptchaWindow() {
  if (picture_) DeleteObject(picture_);
}

bool CaptchaWindow::open(AppState& state, HWND owner, std::function<void()> on_closed) {
  auto* window = new CaptchaWindow(state, std::move(on_closed));
  if (!window->PromptWindow::open(owner, layout::kCaptchaWidth, kCaptchaTitle)) {
    delete window;
    return false;
  }
  window->presenter_.load_captcha();
  return true;
}

void CaptchaWindow::make_controls() {
  // Owner-drawn, so the picture sits centred and scaled with its box whatever
  // its size; SS_NOTIFY makes a press on it a command.
  图片框_验证码 =
      controls_.make(L"STATIC", L"", SS_OWNERDRAW | SS_NOTIFY, 0, layout::kPictureBox, kPictureId);
  编辑框_验证码 = make_answer_box(layout::kCaptchaBox, "");
  按钮1 = make_ok_button(layout::kCaptchaOk);
}

bool CaptchaWindow::on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  switch (message) {
    case WM_COMMAND:
      // Every press fetches anew, also the second of a quick pair.
      if (LOWORD(wparam) != kPictureId) return false;
      if (HIWORD(wparam) == STN_CLICKED || HIWORD(wparam) == STN_DBLCLK) presenter_.load_captcha();
      result = 0;
      return true;
    case WM_DRAWITEM:
      if (wparam != kPictureId) return false;
      draw_picture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      result = TRUE;
      return true;
    case WM_TIMER:
      if (wparam != kLoadTimer) return false;
      KillTimer(window_, kLoadTimer);
      presenter_.poll();
      result = 0;
      return true;
  }
  return false;
}

bool CaptchaWindow::schedule(std::chrono::milliseconds delay) {
  return set_timer(kLoadTimer, delay);
}

void CaptchaWindow::show_picture(Picture picture) {
  if (picture_) DeleteObject(picture_);
  picture_ = make_bitmap(picture);
  picture_width_ = picture.width;
  picture_height_ = picture.height;
  InvalidateRect(图片框_验证码, nullptr, TRUE);
}

void CaptchaWindow::draw_picture(const DRAWITEMSTRUCT& item) const {
  const RECT& box = item.rcItem;
  FillRect(item.hDC, &box, GetSysColorBrush(COLOR_BTNFACE));
  if (!picture_ || picture_width_ <= 0 || picture_height_ <= 0) return;
  HDC source = CreateCompatibleDC(item.hDC);
  if (!source) return;
  const HGDIOBJ previous = SelectObject(source, picture_);
  // As big as the DPI makes it, smaller where the box is, in proportion and
  // centred: a service's bigger picture shows whole rather than cut.
  const int box_width = box.right - box.left, box_height = box.bottom - box.top;
  int width = controls_.scale(picture_width_), height = controls_.scale(picture_height_);
  if (width > box_width) {
    height = MulDiv(height, box_width, width);
    width = box_width;
  }
  if (height > box_height) {
    width = MulDiv(width, box_height, height);
    height = box_height;
  }
  if (width > 0 && height > 0) {
    const int x = box.left + (box_width - width) / 2;
    const int y = box.top + (box_height - height) / 2;
    // Averaged rather than dropped pixels; the brush origin is reset, as
    // HALFTONE asks.
    const int saved_mode = SetStretchBltMode(item.hDC, HALFTONE);
    POINT saved_origin{};
    SetBrushOrgEx(item.hDC, 0, 0, &saved_origin);
    StretchBlt(item.hDC, x, y, width, height, source, 0, 0, picture_width_, picture_height_,
               SRCCOPY);
    SetBrushOrgEx(item.hDC, saved_origin.x, saved_origin.y, nullptr);
    if (saved_mode) SetStretchBltMode(item.hDC, saved_mode);
  }
  SelectObject(source, previous);
  DeleteDC(source);
}

void open_extraction_code_window(AppState& state, HWND owner, std::function<void()> on_closed) {
  ExtractionCodeWindow::open(state, owner, std::move(on_closed));
}

void open_captcha_window(AppState& state, HWND owner, std::function<void()> on_closed) {
  CaptchaWindow::open(state, owner, std::move(on_closed));
}

}  // namespace sharelink
