#include "app/service_text.h"

#include "text/local_text.h"

namespace sharelink {

namespace {

// U+FFFD in local text.
const std::string kReplacement = "\x84\x31\xa4\x37";

bool is_control(unsigned char b) {
  return (b < 0x20 && b != '\t') || b == 0x7f;
}

// Bytes of the local character at text[at]: 1, 2 or 4.
std::size_t char_length(const std::string& text, std::size_t at) {
  if (!is_lead_byte(text[at]) || at + 1 >= text.size()) return 1;
  const auto second = static_cast<unsigned char>(text[at + 1]);
  if (second >= 0x30 && second <= 0x39 && at + 3 < text.size()) return 4;
  return 2;
}

// U+0080 to U+009F are the first 32 four-byte characters: 81 30 81 30 on.
bool is_c1_control(const std::string& text, std::size_t at) {
  if (text.compare(at, 2, "\x81\x30") != 0) return false;
  const int index = (static_cast<unsigned char>(text[at + 2]) - 0x81) * 10 +
                    (static_cast<unsigned char>(text[at + 3]) - 0x30);
  return index >= 0 && index < 32;
}

}  // namespace

std::string shown_text(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = char_length(text, at);
    if ((length == 1 && is_control(static_cast<unsigned char>(text[at]))) ||
        (length == 4 && is_c1_control(text, at))) {
      out += kReplacement;
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out;
}

std::string shown_link(const std::string& link) {
  return percent_escape(link, [](unsigned char b) { return b <= ' ' || b == 0x7f; });
}

bool exportable_link(const std::string& link) {
  const std::string head = ascii_upper(link.substr(0, 8));
  return head.rfind("HTTP://", 0) == 0 || head.rfind("HTTPS://", 0) == 0;
}

}  // namespace sharelink
