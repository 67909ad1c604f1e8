// The file system calls on Windows: the wide-character calls on UTF-16 paths,
// so that every name lands as the share gave it, whatever the code page.

#include <windows.h>

#include <algorithm>
#include <mutex>

#include "download/disk_file.h"
#include "text/windows_text.h"

namespace sharelink {

namespace {

// CreateDirectoryW refuses a path past MAX_PATH less room for an 8.3 name;
// from that length on, paths take the \\?\ form, which has no such limit.
constexpr std::size_t kLongPath = MAX_PATH - 12;

// The path as the wide calls take it: a long one made absolute (the \\?\ form
// takes no "/", "." or "..") and prefixed, a UNC one as \\?\UNC\server\share.
std::wstring native(const std::string& path) {
  std::wstring wide = wide_of_utf8(path);
  if (wide.size() < kLongPath || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

DiskError error_of(DWORD code, const std::string& path) {
  DiskError error;
  switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
      error.cause = DiskCause::full;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      error.cause = DiskCause::denied;
      break;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      error.cause = DiskCause::too_long;
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
      error.cause = DiskCause::not_found;
      break;
    default:
      error.cause = DiskCause::other;
  }
  error.path = path;
  error.reason = system_message(code);
  return error;
}

DiskError last_error(const std::string& path) {
  return error_of(GetLastError(), path);
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Closes now, for a caller that must know whether the close failed.
  bool close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_wide(const std::string& path, DWORD access, DWORD disposition) {
  return CreateFileW(native(path).c_str(), access, kShareAll, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Writes all of length bytes at offset; offset is ignored by a handle opened
// for appending only, which no caller here makes.
bool write_all(HANDLE file, std::uint64_t offset, const char* data, std::size_t length) {
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  while (length > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(length < kChunk ? length : kChunk);
    if (!WriteFile(file, data, chunk, &written, &at) || written == 0) return false;
    data += written;
    length -= written;
    offset += written;
  }
  return true;
}

DWORD attributes_of(const std::string& path) {
  return GetFileAttributesW(native(path).c_str());
}

bool is_folder(const std::string& path) {
  const DWORD attributes = attributes_of(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The folder that holds path, or path itself at a root ("C:\\", "\\\\server").
std::string parent_of(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return path.size() == 2 && path[1] == ':' ? path : ".";
  const bool root = slash == 0 || (slash == 2 && path[1] == ':') ||
                    path.find_first_not_of("/\\") > slash;  // "\\server": only separators before
  return root ? path.substr(0, slash + 1) : path.substr(0, slash);
}

}  // namespace

struct DiskFile::Handle {
  sharelink::Handle file;
};

DiskFile::DiskFile(std::string path, std::unique_ptr<Handle> handle)
    : path_(std::move(path)), handle_(std::move(handle)) {}

DiskFile::~DiskFile() = default;

std::unique_ptr<DiskFile> DiskFile::open(const std::string& path, DiskError& error) {
  const HANDLE file = open_wide(path, GENERIC_WRITE, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) {
    error = last_error(path);
    return nullptr;
  }
  error = {};
  return std::unique_ptr<DiskFile>(
      new DiskFile(path, std::unique_ptr<Handle>(new Handle{sharelink::Handle(file)})));
}

DiskError DiskFile::write_at(std::uint64_t offset, const char* data, std::size_t length) {
  if (!write_all(handle_->file.get(), offset, data, length)) return last_error(path_);
  return {};
}

DiskError DiskFile::resize(std::uint64_t size) {
  // By the handle's information, not its file pointer, which writes on other
  // threads share.
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFileInformationByHandle(handle_->file.get(), FileEndOfFileInfo, &end, sizeof end)) {
    return last_error(path_);
  }
  return {};
}

DiskError DiskFile::flush() {
  if (!FlushFileBuffers(handle_->file.get())) return last_error(path_);
  return {};
}

DiskError make_folders(const std::string& folder) {
  if (folder.empty() || is_folder(folder)) return {};
  const std::string parent = parent_of(folder);
  if (parent != folder) {
    DiskError error = make_folders(parent);
    if (error) return error;
  }
  if (!CreateDirectoryW(native(folder).c_str(), nullptr)) {
    const DWORD code = GetLastError();
    if (!(code == ERROR_ALREADY_EXISTS && is_folder(folder))) return error_of(code, folder);
  }
  return {};
}

std::optional<std::uint64_t> file_size(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(native(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool path_exists(const std::string& path) {
  return attributes_of(path) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::uint64_t> free_space(const std::string& folder, DiskError& error) {
  std::string existing = folder.empty() ? "." : folder;
  while (!is_folder(existing) && parent_of(existing) != existing)
    existing = parent_of(existing);
  // A folder, not a root, is fine: the call needs no trailing separator then.
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(native(existing).c_str(), &available, nullptr, nullptr)) {
    error = last_error(existing);
    return std::nullopt;
  }
  error = {};
  return available.QuadPart;
}

DiskError rename_replacing(const std::string& from, const std::string& to) {
  if (!MoveFileExW(native(from).c_str(), native(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    return error_of(code, code == ERROR_FILE_NOT_FOUND ? from : to);
  }
  return {};
}

DiskError remove_file(const std::string& path) {
  if (!DeleteFileW(native(path).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    return last_error(path);
  }
  return {};
}

DiskError write_file_atomically(const std::string& path, const std::string& bytes) {
  // One writer at a time: two threads of a run may write the record at once,
  // and they share the temporary name.
  static std::mutex one_writer;
  std::lock_guard<std::mutex> lock(one_writer);
  const std::string temporary = path + kAtomicWriteSuffix;
  sharelink::Handle file(open_wide(temporary, GENERIC_WRITE, CREATE_ALWAYS));
  if (!file.valid()) return last_error(temporary);
  if (!write_all(file.get(), 0, bytes.data(), bytes.size()) || !FlushFileBuffers(file.get()) ||
      !file.close()) {
    DiskError error = last_error(temporary);
    DeleteFileW(native(temporary).c_str());
    return error;
  }
  DiskError error = rename_replacing(temporary, path);
  if (error) DeleteFileW(native(temporary).c_str());
  return error;
}

std::optional<std::string> read_small_file(const std::string& path, std::size_t limit) {
  sharelink::Handle file(open_wide(path, GENERIC_READ, OPEN_EXISTING));
  LARGE_INTEGER size{};
  if (!file.valid() || !GetFileSizeEx(file.get(), &size) ||
      static_cast<std::uint64_t>(size.QuadPart) > limit) {
    return std::nullopt;
  }
  // One byte past the size: a file that grew since is refused, not cut.
  std::string bytes(static_cast<std::size_t>(size.QuadPart) + 1, '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    DWORD read = 0;
    const std::size_t room = std::min<std::size_t>(bytes.size() - got, std::size_t{1} << 30);
    if (!ReadFile(file.get(), &bytes[got], static_cast<DWORD>(room), &read, nullptr)) {
      return std::nullopt;
    }
    if (read == 0) break;
    got += read;
  }
  if (got == bytes.size()) return std::nullopt;
  bytes.resize(got);
  return bytes;
}

std::string join_path(const std::string& folder, const std::string& relative) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '\\';
  for (char c : relative)
    path += c == '/' ? '\\' : c;
  return path;
}

}  // namespace sharelink
