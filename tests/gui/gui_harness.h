#pragma once

// What the window tests need around the program: child processes, a private
// Xvfb display, the command-line X tools, and a direct X connection for what
// those tools cannot do without a window manager (finding a process's windows,
// pressing a close box, reading pixels).

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct _XDisplay;

namespace sharelink::gui_testing {

using namespace std::chrono_literals;

// Checks condition until it holds or limit has passed; the result of the last
// check.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// The program's path when it is on PATH, else "".
std::string find_program(const std::string& name);

// Environment changes for a child: a value sets the variable, nullopt removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { stop(); }

  // Starts argv (argv[0] looked up on PATH). stdout and stderr go to the files
  // named, or nowhere for "". keep_fd, when not -1, is passed on as fd 3.
  bool start(const std::vector<std::string>& argv, const EnvChanges& env,
             const std::string& out_path = "", const std::string& err_path = "", int keep_fd = -1);
  pid_t pid() const { return pid_; }
  // The exit status (128 + signal for a killed process) once it has ended;
  // nullopt while it still runs after limit.
  std::optional<int> wait(std::chrono::milliseconds limit);
  // Ends it (SIGTERM, then SIGKILL) unless it ended already.
  void stop();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct CommandResult {
  int status = -1;
  std::string out;
};

// Runs a tool to its end (at most limit) and collects its stdout.
CommandResult run_command(const std::vector<std::string>& argv, const EnvChanges& env,
                          std::chrono::milliseconds limit = 10s);

// A private X server on the first free display number.
class Xvfb {
 public:
  bool start(std::string& error);
  const std::string& display() const { return display_; }

 private:
  Process process_;
  std::string display_;
};

struct TopWindow {
  unsigned long id = 0;
  int x = 0, y = 0, width = 0, height = 0;
  std::string title;  // _NET_WM_NAME, UTF-8
};

class XClient {
 public:
  explicit XClient(const std::string& display);
  ~XClient();
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;
  bool connected() const { return display_ != nullptr; }

  // The process's mapped top-level windows, bottom to top.
  std::vector<TopWindow> windows(pid_t pid);
  // Whether any top-level window of the display names its process, as the
  // windows of every program here do, shown or not.
  bool any_program_windows();
  // The smallest client size the window asks a window manager for, if any.
  std::optional<std::pair<int, int>> min_size(unsigned long window);
  // What a window manager sends when the close box is pressed.
  void press_close_box(unsigned long window);
  // What the window shows in the rectangle, row by row; empty when it cannot
  // be read.
  std::vector<unsigned long> pixels(unsigned long window, int x, int y, int width, int height);

 private:
  ::_XDisplay* display_ = nullptr;
};

}  // namespace sharelink::gui_testing
