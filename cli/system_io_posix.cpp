#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli/system_io.h"

namespace sharelink::system_io {

namespace {

void (*g_stop_cleanup)() = nullptr;
// Lock-free atomics: safe in a signal handler, and read on other threads.
std::atomic<bool> g_take_first{false};
std::atomic<bool> g_interrupted{false};

void on_stop_signal(int signal_number) {
  if (signal_number == SIGINT && g_take_first && !g_interrupted.exchange(true)) return;
  if (g_stop_cleanup != nullptr) g_stop_cleanup();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void prepare_standard_streams() {}

bool keeps_status_line(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

std::optional<std::string> read_line(std::FILE* in) {
  char* buffer = nullptr;
  std::size_t capacity = 0;
  const ssize_t length = getline(&buffer, &capacity, in);
  std::optional<std::string> line;
  if (length >= 0) line.emplace(buffer, static_cast<std::size_t>(length));
  free(buffer);
  return line;
}

std::FILE* open_for_writing(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) error = std::strerror(errno);
  return file;
}

std::FILE* create_temp_file(const std::string& prefix, const std::string& suffix, std::string& path,
                            std::string& error) {
  // A new file with a name nobody can guess each time: a fixed name in a shared
  // temp folder could be a link planted by another user.
  const char* dir = getenv("TMPDIR");
  const std::string folder = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  std::string name = folder + "/" + prefix + "XXXXXX" + suffix;
  const int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (fd < 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    error = std::strerror(errno);
    close(fd);
    unlink(name.c_str());
    return nullptr;
  }
  path = name;
  return file;
}

void remove_file(const char* path) {
  unlink(path);
}

void remove_on_stop(void (*cleanup)()) {
  g_stop_cleanup = cleanup;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    std::signal(signal_number, on_stop_signal);
  }
}

void take_first_interrupt() {
  g_take_first = true;
}

bool interrupted() {
  return g_interrupted;
}

}  // namespace sharelink::system_io
