#pragma once

// Where the terminal front end puts a captcha picture for the user to open: the
// path the user chose, or a private file in the temp folder whose name ends in
// the picture's type.

#include <string>

#include "text/local_text.h"

namespace sharelink {

// "png", "jpg", "gif" or "bmp" by the picture's first bytes; "img" otherwise.
std::string picture_type(const Bytes& image);

class CaptchaFile {
 public:
  // chosen_path: where the user wants the pictures; "" for temp files.
  explicit CaptchaFile(std::string chosen_path) : chosen_path_(std::move(chosen_path)) {}
  // Removes the temp file, which nobody needs once the program has ended.
  ~CaptchaFile();
  CaptchaFile(const CaptchaFile&) = delete;
  CaptchaFile& operator=(const CaptchaFile&) = delete;

  // Writes the picture, replacing the previous one; false with a reason when it
  // cannot. path is where it went.
  bool write(const Bytes& image, std::string& path, std::string& error);

  // Removes the temp file of the program's captcha file when a user ends the
  // program at the prompt: from a signal handler (async-signal-safe), or a
  // Windows console's stop handler (system_io::remove_on_stop).
  static void remove_temp_on_signal();

 private:
  bool write_temp(const Bytes& image, std::string& error);

  std::string chosen_path_;
  std::string temp_path_;  // the temp file made last; "" when none
};

}  // namespace sharelink
