#pragma once

// What the windows remember from one start to the next, in a small settings
// file: the last download folder, 先选择文件, and the main window's size and
// place. A missing, broken or unwritable file means the defaults: never a
// crash, never a message at start.

#include <optional>
#include <string>

namespace sharelink {

// A window's outer frame on the desktop, in pixels of a display at 96 DPI.
struct WindowPlace {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
};

struct Settings {
  std::string download_folder;  // UTF-8; "" until a download chose one
  bool choose_first = false;
  std::optional<WindowPlace> main_window;
};

// $XDG_CONFIG_HOME/sharelink/settings.ini (by default under ~/.config), or
// %APPDATA%\sharelink\settings.ini on Windows; UTF-8. "" when neither the
// variable nor a home folder names a place.
std::string settings_path();

// The file's settings; a missing or broken file, or a broken line, gives the
// defaults for what it could not tell.
Settings read_settings(const std::string& path);

// Writes the file atomically, making its folder; false when that failed.
bool write_settings(const std::string& path, const Settings& settings);

// The user's Downloads folder, UTF-8: where the folder chooser starts the
// first time. The home folder when there is none.
std::string downloads_folder();

// The folder the chooser answers with in window tests, which cannot click a
// dialog that differs from machine to machine: $SHARELINK_CHOOSE_FOLDER,
// "" in it for a cancelled dialog. nullopt when it is not set.
std::optional<std::string> scripted_folder_choice();

}  // namespace sharelink
