#pragma once

// The file system calls of a download, on UTF-8 paths: POSIX calls on Linux;
// on Windows the wide-character calls from UTF-16, with the \\?\ prefix for
// paths past 260 characters. Nothing here throws; a failure comes back as a
// DiskError naming its kind and the system's words.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace sharelink {

enum class DiskCause {
  none,
  full,       // no space left on the device (or over quota)
  denied,     // permission denied, or a read-only file system
  too_long,   // the path or one of its names is too long
  not_found,  // a folder on the way is missing and could not be made
  other,
};

struct DiskError {
  DiskCause cause = DiskCause::none;
  std::string path;    // UTF-8, the path the call failed on
  std::string reason;  // the system's message (UTF-8), for a developer
  explicit operator bool() const { return cause != DiskCause::none; }
};

// Makes folder and every missing folder above it.
DiskError make_folders(const std::string& folder);

// The size of the file at path; nullopt when there is none (or it is a folder).
std::optional<std::uint64_t> file_size(const std::string& path);
// Whether anything (file or folder) is at path.
bool path_exists(const std::string& path);

// Bytes free for this user on the file system of folder (the nearest existing
// folder on its way when it does not exist yet).
std::optional<std::uint64_t> free_space(const std::string& folder, DiskError& error);

// Renames from to to, replacing what is at to: atomic on one file system.
DiskError rename_replacing(const std::string& from, const std::string& to);
// Removes the file at path; one already missing is no error.
DiskError remove_file(const std::string& path);

// What write_file_atomically adds to path for the new file it renames.
constexpr const char* kAtomicWriteSuffix = ".tmp";

// Writes bytes to a new file beside path, flushes it to the disk and renames
// it over path: a reader sees the old text or the new one, never a mix.
DiskError write_file_atomically(const std::string& path, const std::string& bytes);
// The whole file when it holds at most limit bytes; nullopt when it is
// missing, larger, or unreadable.
std::optional<std::string> read_small_file(const std::string& path, std::size_t limit);

// A file open for writing at any offset from several threads at once.
class DiskFile {
 public:
  // Opens path for writing, creating it when missing, never truncating it.
  static std::unique_ptr<DiskFile> open(const std::string& path, DiskError& error);
  ~DiskFile();
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  // Writes all of data at offset (positional: no shared file position).
  DiskError write_at(std::uint64_t offset, const char* data, std::size_t length);
  // Cuts or extends the file to size (extending leaves a hole of zeros).
  DiskError resize(std::uint64_t size);
  // Pushes what was written to the disk.
  DiskError flush();
  const std::string& path() const { return path_; }

 private:
  struct Handle;
  DiskFile(std::string path, std::unique_ptr<Handle> handle);
  std::string path_;
  std::unique_ptr<Handle> handle_;
};

// folder + "/" + relative, with the platform's separator.
std::string join_path(const std::string& folder, const std::string& relative);

}  // namespace sharelink
