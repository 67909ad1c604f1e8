#include "app/win32/main_window.h"

#include <cwchar>
#include <vector>

#include "app/app_texts.h"
#include "app/desktop/layout.h"
#include "app/win32/file_choice_window.h"
#include "app/win32/prompt_windows.h"
#include "app/win32/win_support.h"

namespace sharelink {

namespace {

constexpr wchar_t kWindowClass[] = L"sharelink.main";
constexpr UINT_PTR kPumpTimer = 1;

enum ControlId : int { kUrlId = 100, kParseId, kClearId, kCopyId, kLogId, kChooseFirstId };

// Collects the windows of the program's own classes that the first window of
// the list owns: the prompts and the file choice, not the system's windows.
BOOL CALLBACK add_owned_window(HWND window, LPARAM list) {
  auto& windows = *reinterpret_cast<std::vector<HWND>*>(list);
  wchar_t name[32];
  if (GetWindow(window, GW_OWNER) == windows.front() && GetClassNameW(window, name, 32) > 0 &&
      std::wcsncmp(name, L"sharelink.", 10) == 0)
    windows.push_back(window);
  return TRUE;
}

}  // namespace

MainWindow::MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
                       std::FILE* log_mirror)
    : state_(state), presenter_(state, jobs, bridge, log, *this, log_mirror) {}

bool MainWindow::open(int show_command) {
  register_window_class(kWindowClass, window_proc);
  // A fixed frame, as the layout has no room for a bigger log box.
  const HWND window = make_top_window(kWindowClass, kMainCaption,
                                      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                      layout::kMainWidth, layout::kMainHeight, nullptr, this);
  if (!window) return false;
  ShowWindow(window, show_command);
  UpdateWindow(window);
  return true;
}

LRESULT CALLBACK MainWindow::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = window_object<MainWindow>(window, message, lparam);
  if (!self) return DefWindowProcW(window, message, wparam, lparam);
  if (message == WM_NCCREATE) self->window_ = window;
  const LRESULT result = self->on_message(message, wparam, lparam);
  if (message == WM_NCDESTROY) self->window_ = nullptr;
  return result;
}

LRESULT MainWindow::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result = 0;
  if (controls_.on_message(message, wparam, lparam, result)) return result;
  switch (message) {
    case WM_CREATE:
      make_controls();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wparam) != BN_CLICKED) break;
      // Enter and Escape reach here as IDOK and IDCANCEL: neither does anything.
      switch (LOWORD(wparam)) {
        case kParseId:
          presenter_.parse_clicked();
          return 0;
        case kClearId:
          presenter_.clear_clicked();
          return 0;
        case kCopyId:
          presenter_.copy_clicked();
          return 0;
      }
      return 0;
    case WM_CTLCOLOREDIT:
      SetTextColor(reinterpret_cast<HDC>(wparam), RGB(0, 0, 0));
      SetBkColor(reinterpret_cast<HDC>(wparam), RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_TIMER:
      if (wparam != kPumpTimer) break;
      KillTimer(window_, kPumpTimer);
      presenter_.timer_fired();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window_, focus)) last_focus_ = focus;
      }
      break;
    case WM_SETFOCUS:
      SetFocus(last_focus_ && IsWindowEnabled(last_focus_) ? last_focus_ : 编辑框_URL);
      return 0;
    case WM_CLOSE:
      presenter_.close_clicked();
      return 0;
    case WM_DESTROY:
      KillTimer(window_, kPumpTimer);
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

void MainWindow::make_controls() {
  controls_.start(window_, layout::kMainWidth, layout::kMainHeight);
  const auto control = [this](const wchar_t* kind, const wchar_t* text, DWORD style, DWORD ex_style,
                              const layout::Box& box, int id, FontKind font = FontKind::label) {
    return controls_.make(kind, text, style, ex_style, box, id, font);
  };
  编辑框_URL = control(L"EDIT", to_wide(kUrlPlaceholder).c_str(), WS_TABSTOP | ES_AUTOHSCROLL,
                       WS_EX_CLIENTEDGE, layout::kUrlBox, kUrlId);
  take_pastes_on_one_line(编辑框_URL);
  const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
  按钮1 = control(L"BUTTON", L"解析", button, 0, layout::kParseButton, kParseId);
  按钮2 = control(L"BUTTON", L"清空", button, 0, layout::kClearButton, kClearId);
  按钮3 = control(L"BUTTON", L"复制", button, 0, layout::kCopyButton, kCopyId);
  // Lines wrap at the box's width: no horizontal scrolling.
  编辑框_日志 =
      control(L"EDIT", L"", WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
              WS_EX_CLIENTEDGE, layout::kLogBox, kLogId, FontKind::log);
  // The box's own limit is 32767 characters; a report of thousands of files
  // is megabytes.
  SendMessageW(编辑框_日志, EM_SETLIMITTEXT, 0, 0);
  // Off at start; the job reads it as its listing ends.
  选择框_先选择文件 =
      control(L"BUTTON", to_wide(kChooseFirstLabel).c_str(), WS_TABSTOP | BS_AUTOCHECKBOX, 0,
              layout::kChooseFirstBox, kChooseFirstId);
  last_focus_ = 编辑框_URL;
}

std::string MainWindow::url_text() const {
  return window_text(编辑框_URL);
}

void MainWindow::set_input_enabled(bool enabled) {
  if (!window_) return;
  // A disabled control keeps no focus: give it to the log box rather than to
  // nobody, so the keyboard still reaches the window.
  if (!enabled && GetFocus() == 编辑框_URL) SetFocus(编辑框_日志);
  EnableWindow(编辑框_URL, enabled);
  SetWindowTextW(按钮1, enabled ? L"解析" : L"停止");
}

void MainWindow::set_caption(const std::string& caption) {
  if (window_) set_window_text(window_, caption);
}

bool MainWindow::schedule(std::chrono::milliseconds delay) {
  return window_ && SetTimer(window_, kPumpTimer, static_cast<UINT>(delay.count()), nullptr);
}

void MainWindow::append_log(const std::string& text) {
  if (!编辑框_日志) return;
  // The box keeps CR LF line ends as they are; the caret goes to the end, the
  // text is inserted there and scrolled into view.
  const LRESULT length = SendMessageW(编辑框_日志, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(编辑框_日志, EM_SETSEL, static_cast<WPARAM>(length), length);
  const std::wstring wide = to_wide(text);
  SendMessageW(编辑框_日志, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
  SendMessageW(编辑框_日志, EM_SCROLLCARET, 0, 0);
}

void MainWindow::clear_log() {
  SetWindowTextW(编辑框_日志, L"");
}

void MainWindow::put_on_clipboard(const std::string& text) {
  // A clipboard that cannot be had keeps what it holds, and the message says
  // the same.
  sharelink::put_on_clipboard(window_, text);
}

void MainWindow::show_message(const std::string& text, const std::string& caption) {
  sharelink::show_message(text, caption);
}

void MainWindow::open_extraction_code_prompt(std::function<void()> on_closed) {
  open_extraction_code_window(state_, window_, std::move(on_closed));
}

void MainWindow::open_captcha_prompt(std::function<void()> on_closed) {
  open_captcha_window(state_, window_, std::move(on_closed));
}

void MainWindow::close_prompts() {
  // Gathered first: each window goes as it closes.
  std::vector<HWND> windows{window_};
  EnumThreadWindows(GetCurrentThreadId(), add_owned_window, reinterpret_cast<LPARAM>(&windows));
  for (std::size_t i = 1; i < windows.size(); ++i) {
    if (IsWindow(windows[i])) SendMessageW(windows[i], WM_CLOSE, 0, 0);
  }
}

bool MainWindow::choose_first() const {
  return 选择框_先选择文件 && SendMessageW(选择框_先选择文件, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::open_file_choice(std::unique_ptr<ShareTree> tree,
                                  FileChoicePresenter::OnClosed on_closed) {
  FileChoiceWindow::open(window_, std::move(tree), std::move(on_closed));
}

void MainWindow::close_all() {
  // Destroys the prompt and choice windows it owns first.
  DestroyWindow(window_);
}

}  // namespace sharelink
