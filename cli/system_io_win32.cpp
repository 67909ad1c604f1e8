// The terminal front end on Windows. Text crosses the system boundary as wide
// text: the command line, file names, lines typed on a console. Inside, it is
// UTF-8, as the job's output is.

#define _CRT_RAND_S  // rand_s, the system's random numbers

// windows.h first: the other system headers build on it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>

#include "cli/system_io.h"
#include "text/windows_text.h"

namespace sharelink::system_io {

namespace {

HANDLE handle_of(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

bool is_console(HANDLE handle, DWORD* mode = nullptr) {
  DWORD ignored = 0;
  return GetConsoleMode(handle, mode != nullptr ? mode : &ignored) != 0;
}

// The console's settings as the program found them, put back at exit: they
// belong to the console, which outlives the program.
UINT g_output_code_page = 0;
HANDLE g_error_console = INVALID_HANDLE_VALUE;
DWORD g_error_mode = 0;

void restore_console() {
  if (g_output_code_page != 0) SetConsoleOutputCP(g_output_code_page);
  if (g_error_console != INVALID_HANDLE_VALUE) SetConsoleMode(g_error_console, g_error_mode);
}

void (*g_stop_cleanup)() = nullptr;

std::atomic<bool> g_take_first{false};
std::atomic<bool> g_interrupted{false};

BOOL WINAPI on_console_stop(DWORD event) {
  if (event == CTRL_C_EVENT && g_take_first && !g_interrupted.exchange(true)) return TRUE;
  if (g_stop_cleanup != nullptr) g_stop_cleanup();
  return FALSE;  // and on to the default handler, which ends the program
}

// A line typed on the console as wide text: the console's input code page may
// not hold it, and reading UTF-8 bytes from a console is unreliable.
std::optional<std::string> read_console_line(HANDLE console) {
  std::wstring line;
  wchar_t buffer[256];
  for (;;) {
    DWORD read = 0;
    if (!ReadConsoleW(console, buffer, 256, &read, nullptr) || read == 0) break;
    line.append(buffer, read);
    if (line.back() == L'\n') break;
  }
  // Ctrl-Z at the start of a line ends the input, as the C library reads it.
  if (line.empty() || line.front() == L'\x1a') return std::nullopt;
  return utf8_of_wide(line.data(), static_cast<int>(line.size()));
}

}  // namespace

std::vector<std::string> arguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) {
    args.push_back(utf8_of_wide(wide[i], static_cast<int>(std::wcslen(wide[i]))));
  }
  LocalFree(wide);
  return args;
}

void prepare_standard_streams() {
  for (std::FILE* stream : {stdin, stdout, stderr}) {
    _setmode(_fileno(stream), _O_BINARY);
  }
  if (is_console(handle_of(stdout)) || is_console(handle_of(stderr))) {
    g_output_code_page = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
  }
  // The status line rewrites itself with escape sequences; a console that
  // cannot take them shows none (keeps_status_line).
  const HANDLE error = handle_of(stderr);
  DWORD mode = 0;
  if (is_console(error, &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0 &&
      SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
    g_error_console = error;
    g_error_mode = mode;
  }
  std::atexit(restore_console);
}

bool keeps_status_line(std::FILE* stream) {
  DWORD mode = 0;
  return is_console(handle_of(stream), &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::optional<std::string> read_line(std::FILE* in) {
  const HANDLE handle = handle_of(in);
  if (is_console(handle)) return read_console_line(handle);
  std::string line;
  for (int c = std::getc(in); c != EOF; c = std::getc(in)) {
    line += static_cast<char>(c);
    if (c == '\n') return line;
  }
  if (line.empty()) return std::nullopt;
  return line;
}

std::FILE* open_for_writing(const std::string& path, std::string& error) {
  std::FILE* file = _wfopen(wide_of_utf8(path).c_str(), L"wb");
  if (file == nullptr) error = system_message(GetLastError());
  return file;
}

std::FILE* create_temp_file(const std::string& prefix, const std::string& suffix, std::string& path,
                            std::string& error) {
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    error = system_message(GetLastError());
    return nullptr;
  }
  // The user's own temp folder; a name that is new each time, made only if
  // nothing has it yet.
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned int random[2] = {};
    if (rand_s(&random[0]) != 0 || rand_s(&random[1]) != 0) {
      error = "no random numbers";
      return nullptr;
    }
    wchar_t unique[24];
    std::swprintf(unique, 24, L"%08x%08x", random[0], random[1]);
    const std::wstring name = folder + wide_of_utf8(prefix) + unique + wide_of_utf8(suffix);
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD failure = GetLastError();
      if (failure == ERROR_FILE_EXISTS) continue;
      error = system_message(failure);
      return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    std::FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (stream == nullptr) {
      if (fd < 0) {
        CloseHandle(file);
      } else {
        _close(fd);
      }
      DeleteFileW(name.c_str());
      error = "cannot open the file";
      return nullptr;
    }
    path = utf8_of_wide(name.data(), static_cast<int>(name.size()));
    return stream;
  }
  error = "no free name";
  return nullptr;
}

void remove_file(const char* path) {
  DeleteFileW(wide_of_utf8(path).c_str());
}

void remove_on_stop(void (*cleanup)()) {
  g_stop_cleanup = cleanup;
  SetConsoleCtrlHandler(on_console_stop, TRUE);
}

void take_first_interrupt() {
  g_take_first = true;
}

bool interrupted() {
  return g_interrupted;
}

}  // namespace sharelink::system_io
