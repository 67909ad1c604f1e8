#include "cli/console.h"

#include "cli/system_io.h"
#include "text/text_encoding.h"

namespace sharelink {

void Console::write(std::FILE* stream, const std::string& bytes) {
  wipe_status();
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

bool Console::shows_status() const {
  return system_io::keeps_status_line(err_);
}

void Console::status(const std::string& text) {
  if (!shows_status()) return;
  const std::string line = "\r" + gbk_to_utf8(text) + "\x1b[K";
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fflush(err_);
  status_shown_ = true;
}

void Console::wipe_status() {
  if (!status_shown_) return;
  status_shown_ = false;
  std::fputs("\r\x1b[K", err_);
  std::fflush(err_);
}

void Console::log(const std::string& text) {
  write(out_, gbk_to_utf8(text));
}

void Console::print_utf8(const std::string& utf8) {
  write(out_, utf8);
}

void Console::message(const std::string& text, const std::string& native) {
  write(err_, gbk_to_utf8(text) + native + "\n");
}

void Console::message_utf8(const std::string& utf8) {
  write(err_, utf8 + "\n");
}

void Console::prompt(const std::string& text) {
  write(err_, gbk_to_utf8(text));
  prompt_open_ = true;
}

std::optional<std::string> Console::read_line() {
  std::optional<std::string> line = system_io::read_line(in_);
  if (!line) {
    if (prompt_open_) write(err_, "\n");
    prompt_open_ = false;
    return std::nullopt;
  }
  prompt_open_ = false;
  // Answers typed on another system may end in CR LF.
  while (!line->empty() && (line->back() == '\n' || line->back() == '\r'))
    line->pop_back();
  return utf8_to_gbk(*line);
}

}  // namespace sharelink
