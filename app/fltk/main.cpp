// sharelink: the desktop window. Paste a share link, press 解析, and the log box
// fills with the share's entries and their direct download links.
//
// Environment: SHARELINK_LOG_MIRROR names a file that receives the log box's
// text as the job writes it (local text, CR LF line ends) and is emptied with
// the box; the GUI tests read the log there. SHARELINK_STALL_LOG names a file
// that receives, at exit, the longest time the event loop went without turning
// ("longest_stall_ms N"): the benchmarks judge the window's answering by it.
// SHARELINK_TRACE names a file that receives one line per HTTP exchange
// (UTF-8, appended and flushed line by line), the lines of sharelink-cli -v.
// SHARELINK_CHOOSE_FOLDER answers the folder chooser of 下载 (settings.h).
// The settings are kept in $XDG_CONFIG_HOME/sharelink/settings.ini.

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FL/x.H>

#include "app/desktop/desktop_session.h"
#include "app/desktop/settings.h"
#include "app/fltk/main_window.h"
#include "app/fltk/program_icon.h"
#include "http/http_request.h"

namespace {

using namespace sharelink;

DesktopSession* session = nullptr;

// Ticks every few milliseconds and keeps the longest gap between two ticks
// beyond the tick itself: how long the loop could not answer the user.
class StallProbe {
 public:
  static constexpr double kTick = 0.005;

  void start() {
    last_ = std::chrono::steady_clock::now();
    Fl::add_timeout(kTick, on_tick, this);
  }
  void write(const char* path) const {
    if (std::FILE* file = std::fopen(path, "w")) {
      std::fprintf(file, "longest_stall_ms %lld\n", static_cast<long long>(longest_.count()));
      std::fclose(file);
    }
  }

 private:
  static void on_tick(void* data) {
    auto* self = static_cast<StallProbe*>(data);
    const auto now = std::chrono::steady_clock::now();
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(
        now - self->last_ - std::chrono::duration<double>(kTick));
    if (gap > self->longest_) self->longest_ = gap;
    self->last_ = now;
    Fl::repeat_timeout(kTick, on_tick, data);
  }

  std::chrono::steady_clock::time_point last_;
  std::chrono::milliseconds longest_{0};
};

bool open_display() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    const char* name = std::getenv("DISPLAY");
    std::fprintf(stderr,
                 "sharelink: cannot open the X display \"%s\": this program needs a graphical "
                 "desktop (set DISPLAY); sharelink-cli resolves links in a terminal.\n",
                 name ? name : "");
    return false;
  }
  fl_open_display(display);
  return true;
}

}  // namespace

int main() {
  // The toolkit picks one font for a whole text and falls back per text, not
  // per character: ask fontconfig for one that has the Chinese glyphs.
  setenv("FC_LANG", "zh-cn", 0);
  std::setlocale(LC_CTYPE, "");
  // Before any thread exists: the HTTP stack's global set-up is not thread-safe.
  http_global_init();
  if (const char* path = std::getenv("SHARELINK_TRACE")) {
    if (std::FILE* trace = std::fopen(path, "ab")) trace_into(trace);
  }
  if (!open_display()) return 1;
  Fl::lock();
  Fl::scheme("gtk+");
  Fl_Window::default_xclass("sharelink");
  set_program_icon();
  fl_close = u8"确定";
  fl_ok = u8"确定";

  std::FILE* log_mirror = nullptr;
  if (const char* path = std::getenv("SHARELINK_LOG_MIRROR")) log_mirror = std::fopen(path, "wb");

  session = new DesktopSession(
      [](void (*handler)(void*), void* data) { return Fl::awake(handler, data) == 0; });
  auto window = std::make_unique<MainWindow>(session->state, session->jobs, session->bridge,
                                             session->log, log_mirror, settings_path());
  session->view.set_window(&window->job_window());
  window->apply_settings();
  window->show();
  window->presenter().started();
  const char* stall_log = std::getenv("SHARELINK_STALL_LOG");
  StallProbe probe;
  if (stall_log) probe.start();
  Fl::run();
  // A window closed with the program (a prompt, the choice of files) waits to
  // be deleted at the loop's next turn, which does not come.
  Fl::do_widget_deletion();
  if (stall_log) probe.write(stall_log);

  if (!desktop_threads_ended(*session)) {
    std::fflush(nullptr);
    std::quick_exit(0);
  }
  window.reset();
  // The window 下载, closed as the main window went.
  Fl::do_widget_deletion();
  if (log_mirror) std::fclose(log_mirror);
  return 0;
}
