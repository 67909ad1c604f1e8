// sharelink: the desktop window on Windows. Paste a share link, press 解析, and
// the log box fills with the share's entries and their direct download links.
//
// Environment, as on Linux: SHARELINK_LOG_MIRROR names a file that receives the
// log box's text as the job writes it (local text, CR LF line ends) and is
// emptied with the box; the window tests read the log there.
// SHARELINK_CHOOSE_FOLDER answers the folder dialog of 下载. SHARELINK_TRACE
// names a file that receives one line per HTTP exchange (UTF-8, appended and
// flushed line by line), the lines of sharelink-cli -v.

#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "app/app_texts.h"
#include "app/desktop/desktop_session.h"
#include "app/desktop/settings.h"
#include "app/win32/main_window.h"
#include "app/win32/win_support.h"
#include "http/http_request.h"

namespace {

using namespace sharelink;

// The bridge's requests go to a message-only window rather than to the thread:
// a message box or a window being dragged runs a loop of its own, which
// delivers window messages but drops thread messages.
constexpr UINT kRunRequest = WM_APP + 1;
constexpr wchar_t kBridgeClass[] = L"sharelink.bridge";
HWND bridge_window = nullptr;

LRESULT CALLBACK bridge_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kRunRequest) return DefWindowProcW(window, message, wparam, lparam);
  reinterpret_cast<void (*)(void*)>(wparam)(reinterpret_cast<void*>(lparam));
  return 0;
}

HWND make_bridge_window() {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = bridge_procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kBridgeClass;
  if (!RegisterClassExW(&window_class)) return nullptr;
  return CreateWindowExW(0, kBridgeClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// False when the queue is full (the bridge then tries again) or the window has
// gone.
bool post_request(void (*handler)(void*), void* data) {
  return PostMessageW(bridge_window, kRunRequest, reinterpret_cast<WPARAM>(handler),
                      reinterpret_cast<LPARAM>(data)) != 0;
}

std::FILE* open_named_file(const wchar_t* variable, const wchar_t* mode) {
  const wchar_t* path = _wgetenv(variable);
  return path && *path ? _wfopen(path, mode) : nullptr;
}

bool is_edit_box(HWND window) {
  wchar_t name[16] = {};
  return GetClassNameW(window, name, 16) > 0 && _wcsicmp(name, L"EDIT") == 0;
}

// The keys of a dialog: Tab moves between controls, Enter presses a prompt's
// OK button, Ctrl+A selects the whole text of a box (the system's edit boxes
// do that themselves only with visual styles). Escape does nothing: our
// windows close only by their close box, and a multi-line edit box in a
// dialog would close its window on it.
bool dialog_key(MSG& message) {
  if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
  if (message.wParam == VK_ESCAPE && (message.message == WM_KEYDOWN ||
                                      message.message == WM_KEYUP || message.message == WM_CHAR)) {
    return true;
  }
  if (message.message == WM_KEYDOWN && message.wParam == 'A' && GetKeyState(VK_CONTROL) < 0 &&
      GetKeyState(VK_MENU) >= 0 && is_edit_box(message.hwnd)) {
    SendMessageW(message.hwnd, EM_SETSEL, 0, -1);
    return true;
  }
  const HWND top = GetAncestor(message.hwnd, GA_ROOT);
  return top && IsDialogMessageW(top, &message);
}

// A program that exits without a word looks as if it never started: say why.
int cannot_start() {
  const DWORD error = GetLastError();
  show_message("无法创建程序窗口,程序不能启动。(系统错误 " + std::to_string(error) + ")",
               kMessageCaption);
  return 1;
}

void run_message_loop() {
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) return;
    if (dialog_key(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show_command) {
  // The controls of version 6 that the manifest asks for (visual styles):
  // their classes exist in the process only once this has run.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES;
  InitCommonControlsEx(&controls);
  // Before any thread exists: the HTTP stack's global set-up is not thread-safe.
  http_global_init();
  if (std::FILE* trace = open_named_file(L"SHARELINK_TRACE", L"ab")) trace_into(trace);
  bridge_window = make_bridge_window();
  if (!bridge_window) return cannot_start();
  std::FILE* log_mirror = open_named_file(L"SHARELINK_LOG_MIRROR", L"wb");

  auto* session = new DesktopSession(post_request);
  // The settings file: the last download folder, 先选择文件 and the window's
  // place, read by the window before it shows.
  auto window = std::make_unique<MainWindow>(session->state, session->jobs, session->bridge,
                                             session->log, log_mirror, settings_path());
  session->view.set_window(&window->job_window());
  if (!window->open(show_command)) return cannot_start();
  run_message_loop();

  if (!desktop_threads_ended(*session)) {
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), 0);
  }
  // Requests still queued own memory; the closed bridge frees it unrun.
  MSG left;
  while (PeekMessageW(&left, bridge_window, kRunRequest, kRunRequest, PM_REMOVE))
    DispatchMessageW(&left);
  DestroyWindow(bridge_window);
  window.reset();
  if (log_mirror) std::fclose(log_mirror);
  return 0;
}
