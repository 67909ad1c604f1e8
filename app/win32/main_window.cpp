#include "app/win32/main_window.h"

#include <shobjidl.h>

#include <algorithm>
#include <cwchar>
#include <utility>
#include <vector>

#include "app/app_texts.h"
#include "app/desktop/layout.h"
#include "app/win32/download_window.h"
#include "app/win32/file_choice_window.h"
#include "app/win32/prompt_windows.h"
#include "app/win32/win_support.h"
#include "text/windows_text.h"

namespace sharelink {

namespace {

constexpr wchar_t kWindowClass[] = L"sharelink.main";
constexpr UINT_PTR kPumpTimer = 1;

enum ControlId : int {
  kUrlId = 100,
  kParseId,
  kClearId,
  kCopyId,
  kLogId,
  kChooseFirstId,
  kDownloadId,
  kStatusId
};
constexpr DWORD kMainStyle = WS_OVERLAPPEDWINDOW;

// Collects the windows of the program's own classes that the first window of
// the list owns: the prompts and the file choice, not the system's windows,
// nor the window 下载, whose download outlives a stopped job.
BOOL CALLBACK add_owned_window(HWND window, LPARAM list) {
  auto& windows = *reinterpret_cast<std::vector<HWND>*>(list);
  wchar_t name[32];
  if (GetWindow(window, GW_OWNER) == windows.front() && GetClassNameW(window, name, 32) > 0 &&
      std::wcsncmp(name, L"sharelink.", 10) == 0 && std::wcscmp(name, kDownloadWindowClass) != 0)
    windows.push_back(window);
  return TRUE;
}

// The strip spans the window; its text keeps to the log box's edges.
layout::Box status_text_box(const layout::Box& strip) {
  constexpr int kMargin = layout::kLogBox.x;
  return {strip.x + kMargin, strip.y, strip.w - 2 * kMargin, strip.h};
}

// The folder the user picks in the dialog, UTF-8; "" when cancelled.
std::string pick_folder(IFileOpenDialog& dialog, HWND owner, const std::string& start) {
  FILEOPENDIALOGOPTIONS options = 0;
  dialog.GetOptions(&options);
  dialog.SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  dialog.SetTitle(to_wide(kChooseFolderTitle).c_str());
  IShellItem* folder = nullptr;
  if (!start.empty() && SUCCEEDED(SHCreateItemFromParsingName(wide_of_utf8(start).c_str(), nullptr,
                                                              IID_PPV_ARGS(&folder)))) {
    dialog.SetFolder(folder);
    folder->Release();
  }
  IShellItem* chosen = nullptr;
  if (FAILED(dialog.Show(owner)) || FAILED(dialog.GetResult(&chosen))) return {};
  std::string path;
  PWSTR wide = nullptr;
  if (SUCCEEDED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &wide)) && wide) {
    path = utf8_of_wide(wide, static_cast<int>(std::wcslen(wide)));
    CoTaskMemFree(wide);
  }
  chosen->Release();
  return path;
}

}  // namespace

MainWindow::MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
                       std::FILE* log_mirror, std::string settings_file)
    : state_(state),
      presenter_(state, jobs, bridge, log, *this, log_mirror, std::move(settings_file)) {}

bool MainWindow::open(int show_command) {
  if (!make_window(kWindowClass, kMainCaption, kMainStyle, layout::kMainWidth,
                   layout::kMainOpenHeight, nullptr, false))
    return false;
  put_at_kept_place();
  set_choose_first(presenter_.settings().choose_first);
  ShowWindow(window_, show_command);
  UpdateWindow(window_);
  presenter_.started();
  return true;
}

void MainWindow::put_at_kept_place() {
  const std::optional<WindowPlace>& kept = presenter_.settings().main_window;
  if (!kept) return;
  const UINT dpi = window_dpi(window_);
  RECT place{scale(kept->x, dpi), scale(kept->y, dpi), scale(kept->x + kept->w, dpi),
             scale(kept->y + kept->h, dpi)};
  // A monitor since unplugged, or a smaller desktop, would leave the window
  // where nobody can reach it: it then opens where it always did.
  if (!MonitorFromRect(&place, MONITOR_DEFAULTTONULL)) return;
  MINMAXINFO limits{};
  controls_.limit(limits, layout::kMainWidth, layout::kMainHeight);
  SetWindowPos(window_, nullptr, place.left, place.top,
               std::max<LONG>(place.right - place.left, limits.ptMinTrackSize.x),
               std::max<LONG>(place.bottom - place.top, limits.ptMinTrackSize.y),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT MainWindow::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result = 0;
  if (controls_.on_message(message, wparam, lparam, result)) return result;
  if (keep_focus(message, wparam, lparam, 编辑框_URL, result)) return result;
  switch (message) {
    case WM_CREATE:
      make_controls();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wparam) != BN_CLICKED) break;
      // Enter reaches here as IDOK, Escape as IDCANCEL: Enter in the URL box
      // starts a job, nothing else does anything.
      switch (LOWORD(wparam)) {
        case IDOK:
          if (GetFocus() == 编辑框_URL) presenter_.url_entered();
          return 0;
        case kDownloadId:
          presenter_.download_clicked();
          return 0;
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
      return white_edit_box(wparam);
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED && 标签_状态) arrange();
      return 0;
    case WM_GETMINMAXINFO:
      controls_.limit(*reinterpret_cast<MINMAXINFO*>(lparam), layout::kMainWidth,
                      layout::kMainHeight);
      return 0;
    case WM_TIMER:
      if (wparam != kPumpTimer) break;
      KillTimer(window_, kPumpTimer);
      presenter_.timer_fired();
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
  controls_.start(window_, layout::kMainWidth, layout::kMainOpenHeight);
  编辑框_URL = controls_.make(L"EDIT", kUrlPlaceholder, WS_TABSTOP | ES_AUTOHSCROLL,
                              WS_EX_CLIENTEDGE, layout::kUrlBox, kUrlId);
  take_pastes_on_one_line(编辑框_URL);
  const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
  按钮1 = controls_.make(L"BUTTON", L"解析", button, 0, layout::kParseButton, kParseId);
  按钮2 = controls_.make(L"BUTTON", L"清空", button, 0, layout::kClearButton, kClearId);
  按钮3 = controls_.make(L"BUTTON", L"复制", button, 0, layout::kCopyButton, kCopyId);
  // Lines wrap at the box's width: no horizontal scrolling.
  编辑框_日志 = controls_.make(
      L"EDIT", L"", WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
      WS_EX_CLIENTEDGE, layout::kLogBox, kLogId, FontKind::log);
  // The box's own limit is 32767 characters; a report of thousands of files
  // is megabytes.
  SendMessageW(编辑框_日志, EM_SETLIMITTEXT, 0, 0);
  // Off at start; the job reads it as its listing ends.
  选择框_先选择文件 = controls_.make(L"BUTTON", kChooseFirstLabel, WS_TABSTOP | BS_AUTOCHECKBOX, 0,
                                     layout::kChooseFirstBox, kChooseFirstId);
  // Until a job has links.
  按钮_下载 = controls_.make(L"BUTTON", kDownloadLabel, button | WS_DISABLED, 0,
                             layout::kDownloadButton, kDownloadId);
  标签_状态 = controls_.make(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_NOPREFIX, 0,
                             status_text_box(layout::kStatusBar), kStatusId);
  last_focus_ = 编辑框_URL;
  arrange();
}

void MainWindow::arrange() {
  const SIZE grown = controls_.growth();
  const layout::MainBoxes boxes = layout::main_boxes(grown.cx, grown.cy);
  controls_.place({{编辑框_URL, boxes.url},
                   {按钮1, boxes.parse},
                   {按钮2, boxes.clear},
                   {按钮3, boxes.copy},
                   {编辑框_日志, boxes.log},
                   {选择框_先选择文件, boxes.choose_first},
                   {按钮_下载, boxes.download},
                   {标签_状态, status_text_box(boxes.status)}});
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
  return set_timer(kPumpTimer, delay);
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

void MainWindow::open_captcha_prompt(AppState& state, std::function<void()> on_closed) {
  open_captcha_window(state, window_, std::move(on_closed));
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

void MainWindow::set_choose_first(bool on) {
  if (选择框_先选择文件)
    SendMessageW(选择框_先选择文件, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow::set_download_enabled(bool enabled) {
  if (!按钮_下载) return;
  if (!enabled && GetFocus() == 按钮_下载) SetFocus(编辑框_日志);
  EnableWindow(按钮_下载, enabled);
}

void MainWindow::set_status(const std::string& text) {
  if (标签_状态) set_window_text(标签_状态, text);
}

std::string MainWindow::choose_folder(const std::string& start) {
  if (const std::optional<std::string> scripted = scripted_folder_choice()) return *scripted;
  // The dialog is a COM object of the shell, in an apartment of this thread
  // for as long as it is open.
  const HRESULT apartment =
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  std::string chosen;
  IFileOpenDialog* dialog = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_PPV_ARGS(&dialog)))) {
    chosen = pick_folder(*dialog, window_, start);
    dialog->Release();
  }
  if (SUCCEEDED(apartment)) CoUninitialize();
  return chosen;
}

DownloadView* MainWindow::open_download_window(DownloadPresenter& presenter) {
  return DownloadWindow::open(window_, presenter);
}

bool MainWindow::ask(const std::string& question, const std::string& caption) {
  return ask_yes_no(question, caption);
}

std::optional<WindowPlace> MainWindow::window_place() const {
  if (!window_) return std::nullopt;
  RECT frame{};
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  // A minimised window's own rectangle is off the screen: its place is the
  // one it comes back to (in work-area coordinates, which differ only by a
  // taskbar at the top or left).
  if (IsIconic(window_) && GetWindowPlacement(window_, &placement)) {
    frame = placement.rcNormalPosition;
  } else if (!GetWindowRect(window_, &frame)) {
    return std::nullopt;
  }
  const int dpi = static_cast<int>(window_dpi(window_));
  const auto at_layout = [dpi](LONG pixels) {
    return MulDiv(static_cast<int>(pixels), static_cast<int>(kLayoutDpi), dpi);
  };
  return WindowPlace{at_layout(frame.left), at_layout(frame.top),
                     at_layout(frame.right - frame.left), at_layout(frame.bottom - frame.top)};
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
