#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>

#include "download/disk_file.h"

namespace sharelink {

namespace {

DiskError error_of(int code, const std::string& path) {
  DiskError error;
  switch (code) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      error.cause = DiskCause::full;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      error.cause = DiskCause::denied;
      break;
    case ENAMETOOLONG:
      error.cause = DiskCause::too_long;
      break;
    case ENOENT:
    case ENOTDIR:
      error.cause = DiskCause::not_found;
      break;
    default:
      error.cause = DiskCause::other;
  }
  error.path = path;
  error.reason = std::generic_category().message(code);
  return error;
}

DiskError last_error(const std::string& path) {
  return error_of(errno, path);
}

// The folder that holds path ("." for a bare name).
std::string parent_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool is_folder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Writes all of length bytes, at offset when it is not negative.
bool write_all(int fd, const char* data, std::size_t length, off_t offset) {
  while (length > 0) {
    const ssize_t written =
        offset < 0 ? ::write(fd, data, length) : ::pwrite(fd, data, length, offset);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
    if (offset >= 0) offset += written;
  }
  return true;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, for a caller that must know whether the close failed.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace

struct DiskFile::Handle {
  Descriptor fd;
};

DiskFile::DiskFile(std::string path, std::unique_ptr<Handle> handle)
    : path_(std::move(path)), handle_(std::move(handle)) {}

DiskFile::~DiskFile() = default;

std::unique_ptr<DiskFile> DiskFile::open(const std::string& path, DiskError& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = last_error(path);
    return nullptr;
  }
  error = {};
  return std::unique_ptr<DiskFile>(
      new DiskFile(path, std::unique_ptr<Handle>(new Handle{Descriptor(fd)})));
}

DiskError DiskFile::write_at(std::uint64_t offset, const char* data, std::size_t length) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX) - length) return error_of(EFBIG, path_);
  if (!write_all(handle_->fd.get(), data, length, static_cast<off_t>(offset))) {
    return last_error(path_);
  }
  return {};
}

DiskError DiskFile::resize(std::uint64_t size) {
  if (size > static_cast<std::uint64_t>(INT64_MAX)) return error_of(EFBIG, path_);
  if (::ftruncate(handle_->fd.get(), static_cast<off_t>(size)) != 0) return last_error(path_);
  return {};
}

DiskError DiskFile::flush() {
  if (::fsync(handle_->fd.get()) != 0) return last_error(path_);
  return {};
}

DiskError make_folders(const std::string& folder) {
  if (folder.empty() || is_folder(folder)) return {};
  const std::string parent = parent_of(folder);
  if (parent != folder) {
    DiskError error = make_folders(parent);
    if (error) return error;
  }
  if (::mkdir(folder.c_str(), 0777) != 0 && !(errno == EEXIST && is_folder(folder))) {
    return last_error(folder);
  }
  return {};
}

std::optional<std::uint64_t> file_size(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

bool path_exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::optional<std::uint64_t> free_space(const std::string& folder, DiskError& error) {
  std::string existing = folder.empty() ? "." : folder;
  while (!is_folder(existing) && parent_of(existing) != existing)
    existing = parent_of(existing);
  struct statvfs info {};
  if (::statvfs(existing.c_str(), &info) != 0) {
    error = last_error(existing);
    return std::nullopt;
  }
  error = {};
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

DiskError rename_replacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return last_error(errno == ENOENT ? from : to);
  return {};
}

DiskError remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return last_error(path);
  return {};
}

DiskError write_file_atomically(const std::string& path, const std::string& bytes) {
  // One writer at a time: two threads of a run may write the record at once,
  // and they share the temporary name.
  static std::mutex one_writer;
  std::lock_guard<std::mutex> lock(one_writer);
  const std::string temporary = path + kAtomicWriteSuffix;
  Descriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) return last_error(temporary);
  if (!write_all(fd.get(), bytes.data(), bytes.size(), -1) || ::fsync(fd.get()) != 0 ||
      !fd.close()) {
    DiskError error = last_error(temporary);
    ::unlink(temporary.c_str());
    return error;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    DiskError error = last_error(path);
    ::unlink(temporary.c_str());
    return error;
  }
  // The rename itself reaches the disk with its folder.
  Descriptor parent(::open(parent_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (parent.get() >= 0) ::fsync(parent.get());
  return {};
}

std::optional<std::string> read_small_file(const std::string& path, std::size_t limit) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uint64_t>(info.st_size) > limit) {
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t got = 0;
  // One byte past the size: a file that grew since fstat is refused, not cut.
  char extra = 0;
  while (true) {
    char* into = got < bytes.size() ? &bytes[got] : &extra;
    const std::size_t room = got < bytes.size() ? bytes.size() - got : 1;
    const ssize_t n = ::read(fd.get(), into, room);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && got == bytes.size())) return std::nullopt;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

std::string join_path(const std::string& folder, const std::string& relative) {
  if (folder.empty()) return relative;
  if (folder.back() == '/') return folder + relative;
  return folder + "/" + relative;
}

}  // namespace sharelink
