#include "cli/captcha_file.h"

#include <csignal>
#include <cstdio>

#include "cli/system_io.h"

namespace sharelink {

namespace {

bool starts_with(const Bytes& bytes, const char* magic, std::size_t length) {
  return bytes.size() >= length && bytes.compare(0, length, magic, length) == 0;
}

// Writes bytes to file and closes it; false when either failed.
bool write_and_close(std::FILE* file, const Bytes& bytes) {
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// The current temp file's name where a signal handler can read it. The program
// has one captcha file, on one thread.
char g_signal_path[4096];
volatile std::sig_atomic_t g_signal_path_set = 0;

void remember_for_signals(const std::string& path) {
  g_signal_path_set = 0;
  if (path.empty() || path.size() >= sizeof g_signal_path) return;
  path.copy(g_signal_path, path.size());
  g_signal_path[path.size()] = '\0';
  g_signal_path_set = 1;
}

}  // namespace

std::string picture_type(const Bytes& image) {
  if (starts_with(image, "\x89PNG\r\n\x1a\n", 8)) return "png";
  if (starts_with(image, "\xff\xd8\xff", 3)) return "jpg";
  if (starts_with(image, "GIF8", 4)) return "gif";
  if (starts_with(image, "BM", 2)) return "bmp";
  return "img";
}

CaptchaFile::~CaptchaFile() {
  if (temp_path_.empty()) return;
  remember_for_signals({});
  system_io::remove_file(temp_path_.c_str());
}

void CaptchaFile::remove_temp_on_signal() {
  if (g_signal_path_set) system_io::remove_file(g_signal_path);
}

bool CaptchaFile::write(const Bytes& image, std::string& path, std::string& error) {
  if (chosen_path_.empty()) {
    if (!write_temp(image, error)) return false;
    path = temp_path_;
    return true;
  }
  std::FILE* file = system_io::open_for_writing(chosen_path_, error);
  if (file == nullptr) return false;
  if (!write_and_close(file, image)) {
    error = "write failed";
    return false;
  }
  path = chosen_path_;
  return true;
}

bool CaptchaFile::write_temp(const Bytes& image, std::string& error) {
  std::string name;
  std::FILE* file =
      system_io::create_temp_file("sharelink-captcha-", "." + picture_type(image), name, error);
  if (file == nullptr) return false;
  if (!write_and_close(file, image)) {
    system_io::remove_file(name.c_str());
    error = "write failed";
    return false;
  }
  remember_for_signals(name);
  if (!temp_path_.empty()) system_io::remove_file(temp_path_.c_str());
  temp_path_ = name;
  return true;
}

}  // namespace sharelink
