#include "text/local_text.h"

#include <cstring>

namespace sharelink {

namespace {

char fold(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Compares needle with text at pos. Only the single-byte characters of needle
// fold, so the trail byte of a double-byte character (which may look like an ASCII
// letter) is always compared exactly.
bool matches_at(const std::string& text, std::size_t pos, const std::string& needle,
                bool ignore_case) {
  if (!ignore_case) return text.compare(pos, needle.size(), needle) == 0;
  std::size_t i = 0;
  while (i < needle.size()) {
    if (is_lead_byte(needle[i]) && i + 1 < needle.size()) {
      if (text[pos + i] != needle[i] || text[pos + i + 1] != needle[i + 1]) return false;
      i += 2;
    } else {
      if (fold(text[pos + i]) != fold(needle[i])) return false;
      i += 1;
    }
  }
  return true;
}

}  // namespace

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percent_escape(const std::string& bytes, bool (*needs_escape)(unsigned char)) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (needs_escape(b)) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::string> split_text(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  if (separator.empty()) {
    parts.push_back(text);
    return parts;
  }
  std::size_t begin = 0;
  for (;;) {
    std::size_t at = text.find(separator, begin);
    if (at == std::string::npos) break;
    parts.push_back(text.substr(begin, at - begin));
    begin = at + separator.size();
  }
  if (begin < text.size()) parts.push_back(text.substr(begin));
  return parts;
}

std::size_t find_local(const std::string& text, const std::string& needle, std::size_t start,
                       bool ignore_case) {
  if (needle.empty()) return start <= text.size() ? start : std::string::npos;
  std::size_t pos = start;
  while (pos < text.size() && text.size() - pos >= needle.size()) {
    if (matches_at(text, pos, needle, ignore_case)) return pos;
    pos += is_lead_byte(text[pos]) ? 2 : 1;
  }
  return std::string::npos;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  std::size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

std::string ascii_upper(std::string text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (is_lead_byte(text[i])) {
      ++i;  // the trail byte belongs to the same character
      continue;
    }
    text[i] = fold(text[i]);
  }
  return text;
}

std::string remove_spaces(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ' ') continue;
    if (is_lead_byte(text[i]) && i + 1 < text.size()) {
      // A1 A1 is the full-width space (U+3000) in GBK and GB18030.
      if (c != 0xA1 || static_cast<unsigned char>(text[i + 1]) != 0xA1) {
        out += text[i];
        out += text[i + 1];
      }
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string trim_spaces(const std::string& text) {
  std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  std::size_t end = text.find_last_not_of(' ');
  return text.substr(begin, end - begin + 1);
}

std::string until_zero(const std::string& text) {
  return std::string(text.c_str(), std::strlen(text.c_str()));
}

}  // namespace sharelink
