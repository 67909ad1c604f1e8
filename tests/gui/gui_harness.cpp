#include "gui/gui_harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

namespace sharelink::gui_testing {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> environment_with(const EnvChanges& changes) {
  std::vector<std::string> out;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (changes.count(text.substr(0, text.find('='))) == 0) out.push_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value) out.push_back(name + "=" + *value);
  }
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& text : texts)
    out.push_back(text.data());
  out.push_back(nullptr);
  return out;
}

int exit_status(int raw) {
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

}  // namespace

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(20ms);
  }
}

std::string find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

bool Process::start(const std::vector<std::string>& argv, const EnvChanges& env,
                    const std::string& out_path, const std::string& err_path, int keep_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.empty() ? "/dev/null" : out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.empty() ? "/dev/null" : err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (keep_fd >= 0) posix_spawn_file_actions_adddup2(&actions, keep_fd, 3);
  std::vector<std::string> args = argv;
  std::vector<std::string> envs = environment_with(env);
  std::vector<char*> arg_ptrs = pointers(args);
  std::vector<char*> env_ptrs = pointers(envs);
  const int rc =
      posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, arg_ptrs.data(), env_ptrs.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) pid_ = -1;
  status_.reset();
  return rc == 0;
}

std::optional<int> Process::wait(std::chrono::milliseconds limit) {
  if (pid_ < 0 || status_) return status_;
  wait_until(
      [&] {
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_) status_ = exit_status(raw);
        return status_.has_value();
      },
      limit);
  return status_;
}

void Process::stop() {
  if (pid_ < 0 || status_) return;
  kill(pid_, SIGTERM);
  if (!wait(3s)) {
    kill(pid_, SIGKILL);
    wait(10s);
  }
}

CommandResult run_command(const std::vector<std::string>& argv, const EnvChanges& env,
                          std::chrono::milliseconds limit) {
  CommandResult result;
  char path[] = "/tmp/sharelink-gui-test-XXXXXX";
  const int fd = mkostemp(path, O_CLOEXEC);
  if (fd < 0) return result;
  Process process;
  if (process.start(argv, env, path)) {
    const std::optional<int> status = process.wait(limit);
    result.status = status.value_or(-1);
  }
  process.stop();
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    result.out.append(buffer, n);
  close(fd);
  unlink(path);
  return result;
}

bool Xvfb::start(std::string& error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = "pipe failed";
    return false;
  }
  // -displayfd: the server picks a free display and writes its number to fd 3
  // once it accepts connections.
  const bool started = process_.start(
      {"Xvfb", "-displayfd", "3", "-screen", "0", "1600x1200x24", "-nolisten", "tcp"}, {}, "", "",
      fds[1]);
  close(fds[1]);
  std::string number;
  const auto deadline = Clock::now() + 20s;
  while (started && number.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd poller{fds[0], POLLIN, 0};
    if (poll(&poller, 1, 200) <= 0) continue;
    char buffer[32];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, n);
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    error = started ? "Xvfb did not report a display" : "Xvfb could not be started";
    return false;
  }
  display_ = ":" + number.substr(0, number.find('\n'));
  return true;
}

namespace {

// A window may close between listing it and reading it: Xlib's default handler
// would end the test process on the BadWindow that follows. The call that
// failed returns its failure value instead, and the caller skips the window.
int ignore_x_error(Display*, XErrorEvent*) {
  return 0;
}

}  // namespace

XClient::XClient(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
  XSetErrorHandler(ignore_x_error);
}

XClient::~XClient() {
  if (display_) XCloseDisplay(display_);
}

namespace {

std::optional<unsigned long> cardinal_property(Display* display, Window window, Atom name) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, left = 0;
  unsigned char* data = nullptr;
  std::optional<unsigned long> value;
  if (XGetWindowProperty(display, window, name, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                         &left, &data) == Success &&
      data && items == 1 && format == 32) {
    value = *reinterpret_cast<unsigned long*>(data);
  }
  if (data) XFree(data);
  return value;
}

std::string utf8_property(Display* display, Window window, Atom name) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, left = 0;
  unsigned char* data = nullptr;
  std::string value;
  if (XGetWindowProperty(display, window, name, 0, 1024, False,
                         XInternAtom(display, "UTF8_STRING", False), &type, &format, &items, &left,
                         &data) == Success &&
      data && format == 8) {
    value.assign(reinterpret_cast<char*>(data), items);
  }
  if (data) XFree(data);
  return value;
}

// The parent of a process, from /proc; 0 once there is none to read.
pid_t parent_of(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  // The name in parentheses may hold spaces; the state and the parent follow it.
  const std::size_t end = line.rfind(')');
  if (end == std::string::npos) return 0;
  std::istringstream rest(line.substr(end + 1));
  char state = 0;
  long parent = 0;
  rest >> state >> parent;
  return static_cast<pid_t>(parent);
}

// A program started through a launcher (scripts/wine-run) draws its windows
// from a child process of the one the test started.
bool started_by(unsigned long window_pid, pid_t pid) {
  pid_t at = static_cast<pid_t>(window_pid);
  for (int depth = 0; depth < 4 && at > 1; ++depth, at = parent_of(at)) {
    if (at == pid) return true;
  }
  return false;
}

// The children of the root window: every top-level window on the display.
std::vector<Window> top_level_windows(Display* display) {
  std::vector<Window> out;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (display &&
      XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
    out.assign(children, children + count);
  }
  if (children) XFree(children);
  return out;
}

}  // namespace

std::vector<TopWindow> XClient::windows(pid_t pid) {
  std::vector<TopWindow> out;
  if (!display_) return out;
  const Atom pid_atom = XInternAtom(display_, "_NET_WM_PID", False);
  const Atom name_atom = XInternAtom(display_, "_NET_WM_NAME", False);
  for (Window window : top_level_windows(display_)) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window, &attributes) ||
        attributes.map_state != IsViewable) {
      continue;
    }
    const auto window_pid = cardinal_property(display_, window, pid_atom);
    if (!window_pid || !started_by(*window_pid, pid)) continue;
    out.push_back({window, attributes.x, attributes.y, attributes.width, attributes.height,
                   utf8_property(display_, window, name_atom)});
  }
  return out;
}

bool XClient::any_program_windows() {
  if (!display_) return false;
  const Atom pid_atom = XInternAtom(display_, "_NET_WM_PID", False);
  for (Window window : top_level_windows(display_)) {
    if (cardinal_property(display_, window, pid_atom)) return true;
  }
  return false;
}

std::optional<std::pair<int, int>> XClient::min_size(unsigned long window) {
  XSizeHints hints;
  long given = 0;
  if (!display_ || !XGetWMNormalHints(display_, window, &hints, &given) ||
      !(hints.flags & PMinSize)) {
    return std::nullopt;
  }
  return std::make_pair(hints.min_width, hints.min_height);
}

void XClient::press_close_box(unsigned long window) {
  XEvent event;
  std::memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XFlush(display_);
}

std::vector<unsigned long> XClient::pixels(unsigned long window, int x, int y, int width,
                                           int height) {
  std::vector<unsigned long> out;
  XImage* image = XGetImage(display_, window, x, y, width, height, AllPlanes, ZPixmap);
  if (!image) return out;
  out.reserve(static_cast<std::size_t>(width) * height);
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column)
      out.push_back(XGetPixel(image, column, row));
  }
  XDestroyImage(image);
  return out;
}

}  // namespace sharelink::gui_testing
