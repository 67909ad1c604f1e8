#include "app/service_text.h"

#include "text/local_text.h"

namespace sharelink {

namespace {

// U+FFFD in local text.
const std::string kReplacement = "\x84\x31\xa4\x37";

// Four-byte characters that must not reach a screen as they are, by their
// place among the four-byte codes (81 30 81 30 is 0) and the code point of
// the first. None of them has a two-byte code.
struct FourByteRange {
  int first;
  int last;
  char32_t code_point;
};
constexpr FourByteRange kUnsafeFourByte[] = {
    {0, 31, 0x80},         // the C1 controls, U+0085 (next line) among them
    {7935, 7941, 0x2028},  // separators, embeddings and overrides: U+2028-202E
    {7992, 7995, 0x2066},  // isolates: U+2066-2069
};

enum class Kind { plain, control, stray };

struct LocalChar {
  std::size_t length;
  Kind kind;
  char32_t code_point;  // of a control
};

bool within(unsigned char b, unsigned char low, unsigned char high) {
  return b >= low && b <= high;
}

LocalChar four_byte_char(const unsigned char* b) {
  const int index =
      (((b[0] - 0x81) * 10 + (b[1] - 0x30)) * 126 + (b[2] - 0x81)) * 10 + (b[3] - 0x30);
  for (const FourByteRange& range : kUnsafeFourByte) {
    if (index >= range.first && index <= range.last) {
      return {4, Kind::control, range.code_point + static_cast<char32_t>(index - range.first)};
    }
  }
  return {4, Kind::plain, 0};
}

// The character at text[at]. A lead byte without the bytes its sequence
// needs is a stray byte of its own: the byte after it starts the next
// character, whatever it is.
LocalChar char_at(const std::string& text, std::size_t at) {
  const auto* b = reinterpret_cast<const unsigned char*>(text.data()) + at;
  const std::size_t left = text.size() - at;
  if (b[0] < 0x80) {
    const bool control = b[0] < 0x20 || b[0] == 0x7f;
    return {1, control ? Kind::control : Kind::plain, b[0]};
  }
  if (b[0] == 0x80 || b[0] == 0xff || left < 2) return {1, Kind::stray, 0};
  if (within(b[1], 0x40, 0x7e) || within(b[1], 0x80, 0xfe)) return {2, Kind::plain, 0};
  if (left >= 4 && within(b[1], 0x30, 0x39) && within(b[2], 0x81, 0xfe) &&
      within(b[3], 0x30, 0x39)) {
    return four_byte_char(b);
  }
  return {1, Kind::stray, 0};
}

std::string replaced(const std::string& text, const std::string& replacement, bool keep_tab) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const LocalChar c = char_at(text, at);
    if (c.kind == Kind::plain || (keep_tab && c.code_point == '\t')) {
      out.append(text, at, c.length);
    } else {
      out += replacement;
    }
    at += c.length;
  }
  return out;
}

// Not through the text converter: where code page 54936 is missing (Wine 8
// falls back to 936), four-byte characters have no conversion there.
std::string utf8_of(char32_t code_point) {
  std::string out;
  if (code_point < 0x800) {
    out += static_cast<char>(0xc0 | (code_point >> 6));
  } else {
    out += static_cast<char>(0xe0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3f));
  }
  out += static_cast<char>(0x80 | (code_point & 0x3f));
  return out;
}

bool every_byte(unsigned char) {
  return true;
}

}  // namespace

std::string shown_text(const std::string& text) {
  return replaced(text, kReplacement, true);
}

std::string without_controls(const std::string& text, const std::string& replacement) {
  return replaced(text, replacement, false);
}

std::string shown_link(const std::string& link) {
  std::string out;
  out.reserve(link.size());
  for (std::size_t at = 0; at < link.size();) {
    const LocalChar c = char_at(link, at);
    if (c.kind == Kind::plain && link[at] != ' ') {
      out.append(link, at, c.length);
    } else if (c.kind == Kind::control && c.length == 4) {
      // As the address goes out: non-ASCII characters as escaped UTF-8.
      out += percent_escape(utf8_of(c.code_point), every_byte);
    } else {
      out += percent_escape(link.substr(at, c.length), every_byte);
    }
    at += c.length;
  }
  return out;
}

bool exportable_link(const std::string& link) {
  const std::string head = ascii_upper(link.substr(0, 8));
  return head.rfind("HTTP://", 0) == 0 || head.rfind("HTTPS://", 0) == 0;
}

}  // namespace sharelink
