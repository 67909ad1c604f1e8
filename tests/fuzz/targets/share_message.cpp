// What a user pastes: a share message with a link and an extraction code, a
// link with ?pwd=, or a bare link; and a typed prompt answer. Input: the text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/share_text.h"
#include "fuzz/fuzz_support.h"
#include "text/local_text.h"

namespace {

bool is_code(const std::string& code) {
  if (code.size() != 4) return false;
  for (const char c : code) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sharelink;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const ShareText found = parse_share_text(text);
  FUZZ_CHECK(found.code.empty() || is_code(found.code));
  FUZZ_CHECK(found.link.size() <= text.size());
  const bool has_link = find_local(text, "http://", 0, true) != std::string::npos ||
                        find_local(text, "https://", 0, true) != std::string::npos;
  if (!has_link) FUZZ_CHECK(found.link == text && found.code.empty());
  // A found link is one piece of the text, less at most its pwd parameter.
  if (found.link != text) {
    const std::string upper = ascii_upper(found.link);
    FUZZ_CHECK(upper.compare(0, 7, "HTTP://") == 0 || upper.compare(0, 8, "HTTPS://") == 0);
    for (const char c : found.link)
      FUZZ_CHECK(static_cast<unsigned char>(c) > ' ');
  }

  const std::string answer = confirmed_answer(text);
  FUZZ_CHECK(answer.size() <= text.size());
  FUZZ_CHECK(find_local(answer, " ") == std::string::npos);
  FUZZ_CHECK(remove_spaces(answer) == answer);
  return 0;
}
