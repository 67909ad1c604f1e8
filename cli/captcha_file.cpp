#include "cli/captcha_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

namespace sharelink {

namespace {

bool starts_with(const Bytes& bytes, const char* magic, std::size_t length) {
  return bytes.size() >= length && bytes.compare(0, length, magic, length) == 0;
}

bool write_all(int fd, const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
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

std::string temp_folder() {
  const char* dir = getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
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
  unlink(temp_path_.c_str());
}

void CaptchaFile::remove_temp_on_signal() {
  if (g_signal_path_set) unlink(g_signal_path);
}

bool CaptchaFile::write(const Bytes& image, std::string& path, std::string& error) {
  if (chosen_path_.empty()) {
    if (!write_temp(image, error)) return false;
    path = temp_path_;
    return true;
  }
  std::FILE* file = std::fopen(chosen_path_.c_str(), "wb");
  if (file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  if (std::fclose(file) != 0 || !written) {
    error = "write failed";
    return false;
  }
  path = chosen_path_;
  return true;
}

bool CaptchaFile::write_temp(const Bytes& image, std::string& error) {
  // A new file with a name nobody can guess each time: a fixed name in a shared
  // temp folder could be a link planted by another user.
  const std::string suffix = "." + picture_type(image);
  const std::string pattern = temp_folder() + "/sharelink-captcha-XXXXXX" + suffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  const bool written = write_all(fd, image);
  close(fd);
  if (!written) {
    unlink(name.data());
    error = "write failed";
    return false;
  }
  remember_for_signals(name.data());
  if (!temp_path_.empty()) unlink(temp_path_.c_str());
  temp_path_ = name.data();
  return true;
}

}  // namespace sharelink
