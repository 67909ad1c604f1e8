#include "app/desktop/settings.h"

#include <charconv>
#include <cstdlib>
#include <cwchar>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <shlobj.h>
#include <windows.h>

#include "text/windows_text.h"
#endif

#include "download/disk_file.h"

namespace sharelink {

namespace {

// A settings file is a few lines: anything larger is not ours.
constexpr std::size_t kLargestFile = 64 * 1024;
// Far beyond any desktop, small enough that sums cannot overflow.
constexpr int kLargestCoordinate = 100000;

std::optional<std::string> environment(const char* name) {
#ifdef _WIN32
  const std::wstring wide_name(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = _wgetenv(wide_name.c_str());
  if (!value || !*value) return std::nullopt;
  return utf8_of_wide(value, static_cast<int>(std::wcslen(value)));
#else
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
#endif
}

std::string home_folder() {
#ifdef _WIN32
  return environment("USERPROFILE").value_or("");
#else
  return environment("HOME").value_or("");
#endif
}

bool read_int(const std::string& text, int& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && value > -kLargestCoordinate &&
         value < kLargestCoordinate;
}

std::optional<WindowPlace> read_place(const std::string& text) {
  std::vector<int> numbers;
  std::istringstream parts(text);
  std::string part;
  while (std::getline(parts, part, ',')) {
    int value = 0;
    if (!read_int(part, value)) return std::nullopt;
    numbers.push_back(value);
  }
  if (numbers.size() != 4 || numbers[2] <= 0 || numbers[3] <= 0) return std::nullopt;
  return WindowPlace{numbers[0], numbers[1], numbers[2], numbers[3]};
}

// A value goes on one line: a folder name with a line break in it is not kept.
bool one_line(const std::string& value) {
  return value.find_first_of("\r\n") == std::string::npos;
}

#ifndef _WIN32
// XDG_DOWNLOAD_DIR="$HOME/Downloads" in user-dirs.dirs, as the desktop keeps it.
std::optional<std::string> xdg_download_dir(const std::string& config, const std::string& home) {
  const std::optional<std::string> text =
      read_small_file(join_path(config, "user-dirs.dirs"), kLargestFile);
  if (!text) return std::nullopt;
  std::istringstream lines(*text);
  std::string line;
  const std::string key = "XDG_DOWNLOAD_DIR=\"";
  while (std::getline(lines, line)) {
    if (line.compare(0, key.size(), key) != 0 || line.back() != '"') continue;
    std::string value = line.substr(key.size(), line.size() - key.size() - 1);
    if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
    if (!value.empty() && value[0] == '/' && value != home && path_exists(value)) return value;
  }
  return std::nullopt;
}
#endif

}  // namespace

std::string settings_path() {
#ifdef _WIN32
  const std::optional<std::string> base = environment("APPDATA");
  return base ? *base + "\\sharelink\\settings.ini" : "";
#else
  std::optional<std::string> base = environment("XDG_CONFIG_HOME");
  if (!base || (*base)[0] != '/') {
    const std::string home = home_folder();
    if (home.empty()) return "";
    base = home + "/.config";
  }
  return *base + "/sharelink/settings.ini";
#endif
}

Settings read_settings(const std::string& path) {
  Settings settings;
  if (path.empty()) return settings;
  const std::optional<std::string> text = read_small_file(path, kLargestFile);
  if (!text) return settings;
  std::istringstream lines(*text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "download_folder") {
      settings.download_folder = value;
    } else if (key == "choose_first") {
      settings.choose_first = value == "1";
    } else if (key == "main_window") {
      settings.main_window = read_place(value);
    }
  }
  return settings;
}

bool write_settings(const std::string& path, const Settings& settings) {
  if (path.empty()) return false;
  const std::size_t slash = path.find_last_of("/\\");
  if (slash != std::string::npos && make_folders(path.substr(0, slash))) return false;
  std::string text = "[sharelink]\n";
  if (one_line(settings.download_folder))
    text += "download_folder=" + settings.download_folder + "\n";
  text += std::string("choose_first=") + (settings.choose_first ? "1" : "0") + "\n";
  if (const auto& place = settings.main_window) {
    text += "main_window=" + std::to_string(place->x) + "," + std::to_string(place->y) + "," +
            std::to_string(place->w) + "," + std::to_string(place->h) + "\n";
  }
  return !write_file_atomically(path, text);
}

std::string downloads_folder() {
#ifdef _WIN32
  PWSTR known = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &known)))
    folder = utf8_of_wide(known, static_cast<int>(std::wcslen(known)));
  CoTaskMemFree(known);
  return folder.empty() ? home_folder() : folder;
#else
  const std::string home = home_folder();
  const std::optional<std::string> config = environment("XDG_CONFIG_HOME");
  const std::string config_folder = config && (*config)[0] == '/' ? *config : home + "/.config";
  if (std::optional<std::string> named = xdg_download_dir(config_folder, home)) return *named;
  const std::string usual = home + "/Downloads";
  return path_exists(usual) ? usual : home;
#endif
}

std::optional<std::string> scripted_folder_choice() {
#ifdef _WIN32
  const wchar_t* value = _wgetenv(L"SHARELINK_CHOOSE_FOLDER");
  if (!value) return std::nullopt;
  return utf8_of_wide(value, static_cast<int>(std::wcslen(value)));
#else
  const char* value = std::getenv("SHARELINK_CHOOSE_FOLDER");
  if (!value) return std::nullopt;
  return std::string(value);
#endif
}

}  // namespace sharelink
