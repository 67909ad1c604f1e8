#pragma once

// Helpers for local text: std::string holding GB18030 bytes. Positions and lengths
// count bytes; searches step over double-byte characters whole so that a marker
// never matches from the second byte of a Chinese character.

#include <cstddef>
#include <string>
#include <vector>

namespace sharelink {

// Counted bytes: response bodies, pictures, UTF-16LE wide text.
using Bytes = std::string;

// A byte with the high bit set starts a two-byte unit of local text.
inline bool is_lead_byte(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
}

// The value of a hexadecimal digit of either letter case; -1 for any other byte.
int hex_digit_value(char c);

// bytes with every byte that needs_escape picks written as %XX (upper-case hex).
std::string percent_escape(const std::string& bytes, bool (*needs_escape)(unsigned char));

// Cuts text at every occurrence of separator. The part before each occurrence is
// kept even when empty; the part after the last one only when it is non-empty; an
// empty text gives an empty list.
std::vector<std::string> split_text(const std::string& text, const std::string& separator);

// 0-based offset of the first occurrence of needle in text at or after start, or
// std::string::npos. Steps through text character by character (a byte with the
// high bit set starts a two-byte unit). With ignore_case only ASCII letters of
// single-byte characters fold.
std::size_t find_local(const std::string& text, const std::string& needle, std::size_t start = 0,
                       bool ignore_case = false);

// Every occurrence of from replaced by to, left to right, without rescanning.
std::string replace_all(std::string text, const std::string& from, const std::string& to);

// ASCII letters upper-cased; every other byte, including both bytes of a
// double-byte character, unchanged.
std::string ascii_upper(std::string text);

// Removes every ASCII space and every full-width space (the local two-byte form).
std::string remove_spaces(const std::string& text);

// Trims ASCII spaces at both ends.
std::string trim_spaces(const std::string& text);

// The text up to its first zero byte: what a NUL-terminated text would hold.
std::string until_zero(const std::string& text);

}  // namespace sharelink
