// RegexObject: a pattern compiled and run over a subject in local text, its
// matches and groups handed back with byte positions, and replacement. Input:
// a flags byte (case-sensitive, multiline, global, quote token), the pattern, a
// zero byte, the subject, a zero byte, the replacement.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "script/regex_object.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

namespace {

// The text a position names is the returned text (letter case aside when the
// run ignored it).
void check_position(const std::string& subject, const std::string& text, int position,
                    bool ignore_case) {
  if (position < 0) return;
  const std::size_t at = static_cast<std::size_t>(position);
  FUZZ_CHECK(at <= subject.size() && subject.size() - at >= text.size());
  const std::string there = subject.substr(at, text.size());
  if (ignore_case) {
    FUZZ_CHECK(sharelink::ascii_upper(there) == sharelink::ascii_upper(text));
  } else {
    FUZZ_CHECK(there == text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sharelink;
  if (size == 0) return 0;
  const unsigned flags = data[0];
  const auto parts = fuzz::split_input(data + 1, size - 1, 3);
  const std::string& pattern = parts[0];
  const std::string& subject = parts[1];
  const bool case_sensitive = flags & 1;

  RegexObject regex;
  if (!regex.execute(pattern, subject, case_sensitive, flags & 2, flags & 4, flags & 8)) {
    FUZZ_CHECK(regex.match_count() == 0);
    return 0;
  }
  // Positions count bytes of the subject as the caller gave it when it is
  // local text through and through.
  std::string utf8;
  const bool exact = append_utf8_of_local(subject, utf8);
  const int groups = regex.submatch_count();
  for (int m = 1; m <= regex.match_count() && m <= 8; ++m) {
    int position = -1;
    const std::string text = regex.match_text(m, position, true);
    if (exact) {
      FUZZ_CHECK(position >= 0);
      check_position(subject, text, position, !case_sensitive);
    }
    for (int g = 1; g <= groups && g <= 8; ++g) {
      const std::string group = regex.submatch_text(m, g, position, true);
      if (exact) check_position(subject, group, position, !case_sensitive);
    }
  }
  regex.replace(parts[2]);
  const RegexObject copy = regex;
  FUZZ_CHECK(copy.match_count() == regex.match_count());
  return 0;
}
