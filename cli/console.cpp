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
  const std::lock_guard<std::mutex> lock(mutex_);
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
  const std::string utf8 = gbk_to_utf8(text);
  const std::lock_guard<std::mutex> lock(mutex_);
  write(out_, utf8);
}

void Console::print_utf8(const std::string& utf8) {
  const std::lock_guard<std::mutex> lock(mutex_);
  write(out_, utf8);
}

void Console::message(const std::string& text, const std::string& native) {
  const std::string line = gbk_to_utf8(text) + native + "\n";
  const std::lock_guard<std::mutex> lock(mutex_);
  write(err_, line);
}

void Console::message_utf8(const std::string& utf8) {
  const std::lock_guard<std::mutex> lock(mutex_);
  write(err_, utf8 + "\n");
}

void Console::prompt(const std::string& text) {
  const std::string utf8 = gbk_to_utf8(text);
  const std::lock_guard<std::mutex> lock(mutex_);
  write(err_, utf8);
  prompt_open_ = true;
}

std::optional<std::string> Console::read_line() {
  // Not under the lock: the trace of requests still in flight goes on while
  // the user types.
  std::optional<std::string> line = system_io::read_line(in_);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!line && prompt_open_) write(err_, "\n");
    prompt_open_ = false;
  }
  if (!line) return std::nullopt;
  // Answers typed on another system may end in CR LF.
  while (!line->empty() && (line->back() == '\n' || line->back() == '\r'))
    line->pop_back();
  return utf8_to_gbk(*line);
}

}  // namespace sharelink
