#pragma once

// The one place where sharelink-cli meets the terminal. Everything it is given
// is local text and leaves as UTF-8: the log on stdout, messages and prompts on
// stderr. Answers come from stdin as UTF-8 lines and are handed back as local
// text. Every write is flushed at once, so that a program on the other end of a
// pipe sees each line and each prompt before the next read.
//
// Any thread may call it: the trace of requests in flight comes from the
// threads that make them. Each call's output goes out whole, a status line
// wiped before it, under one lock.

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

namespace sharelink {

class Console {
 public:
  Console(std::FILE* in, std::FILE* out, std::FILE* err) : in_(in), out_(out), err_(err) {}

  // Log text as it is, line ends included.
  void log(const std::string& text);
  // UTF-8 text as it is, for output that is not the job's (the link list).
  void print_utf8(const std::string& utf8);
  // One message line on stderr; native is appended unconverted (file paths).
  void message(const std::string& text, const std::string& native = {});
  // One UTF-8 line on stderr, the line end added (the HTTP trace).
  void message_utf8(const std::string& utf8);
  // A prompt on stderr, left open for the answer.
  void prompt(const std::string& text);
  // The next line of stdin without its line end; nullopt at end of input. A
  // prompt left open at end of input gets its line end, so the terminal's next
  // output starts on a line of its own.
  std::optional<std::string> read_line();

  // A status line on stderr that the next one overwrites in place, when stderr
  // is a terminal; nothing otherwise. Any other output first wipes it.
  bool shows_status() const;
  void status(const std::string& text);

 private:
  // Both with mutex_ held.
  void write(std::FILE* stream, const std::string& bytes);
  void wipe_status();

  std::FILE* in_;
  std::FILE* out_;
  std::FILE* err_;
  bool prompt_open_ = false;
  bool status_shown_ = false;
  std::mutex mutex_;
};

}  // namespace sharelink
