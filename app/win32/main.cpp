// sharelink: the desktop window on Windows. Paste a share link, press 解析, and
// the log box fills with the share's entries and their direct download links.
//
// Environment, as on Linux: SHARELINK_LOG_MIRROR names a file that receives the
// log box's text as the job writes it (local text, CR LF line ends) and is
// emptied with the box; the window tests read the log there. SHARELINK_TRACE
// names a file that receives one line per HTTP exchange (UTF-8, appended and
// flushed line by line), the lines of sharelink-cli -v.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/gui/gui_job_view.h"
#include "app/gui/job_launcher.h"
#include "app/gui/log_queue.h"
#include "app/gui/ui_bridge.h"
#include "app/http_trace.h"
#include "app/win32/main_window.h"
#include "app/win32/prompt_windows.h"
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

// What a job's worker thread uses. Made once and never freed, on purpose: when
// the window closes during a network call the worker is not joined, and the
// process ends while it may still run; it must never find this memory freed.
struct Session {
  AppState state;
  UiBridge bridge{post_request};
  LogQueue log;
  GuiJobView view{bridge, log};
  JobLauncher jobs{state, view};
};

// How long a closing program waits for a job that has been told to stop: long
// enough for one that only had to give up at a prompt, short enough that a
// stalled network call does not keep a closed window's process alive.
constexpr std::chrono::milliseconds kJobStopGrace{1000};

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
  // Before any thread exists: the HTTP stack's global set-up is not thread-safe.
  http_global_init();
  // Never closed: a job's worker may still be in a request as the process ends.
  // One write per line keeps lines of different threads whole.
  if (std::FILE* trace = open_named_file(L"SHARELINK_TRACE", L"ab")) {
    set_http_trace([trace](const HttpTraceRecord& record) {
      const std::string line = trace_line(record) + "\n";
      std::fwrite(line.data(), 1, line.size(), trace);
      std::fflush(trace);
    });
  }
  bridge_window = make_bridge_window();
  if (!bridge_window) return 1;
  std::FILE* log_mirror = open_named_file(L"SHARELINK_LOG_MIRROR", L"wb");

  auto* session = new Session;
  auto window = std::make_unique<MainWindow>(session->state, session->jobs, session->bridge,
                                             session->log, log_mirror);
  session->view.set_window(window.get());
  if (!window->open(show_command)) return 1;
  run_message_loop();

  // The close box released every waiting job call. A job that is still busy
  // (a network call) ends with the process, without the exit handlers that
  // would destroy what it may still touch.
  if (!session->jobs.wait_idle(kJobStopGrace) || !captcha_loads_idle(kJobStopGrace)) {
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
