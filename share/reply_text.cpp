#include "share/reply_text.h"

#include <cctype>

#include "http/cookies.h"
#include "http/local_text.h"
#include "http/text_encoding.h"

namespace sharelink {

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads four hex digits at text[pos]; -1 when they are not there.
long read_hex4(const std::string& text, std::size_t pos) {
  if (pos + 4 > text.size()) return -1;
  long value = 0;
  for (std::size_t i = pos; i < pos + 4; ++i) {
    int digit = hex_digit_value(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

void append_utf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes the JSON string whose opening quote is at text[open]. Raw bytes stay
// local text; \uXXXX escapes (surrogate pairs joined) become local text too.
bool decode_json_string(const std::string& text, std::size_t open, std::string& out) {
  out.clear();
  std::size_t i = open + 1;
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') return true;
    if (is_lead_byte(c) && i + 1 < text.size()) {
      out.append(text, i, 2);
      i += 2;
      continue;
    }
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    char e = text[i + 1];
    i += 2;
    switch (e) {
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        long unit = read_hex4(text, i);
        if (unit < 0) return false;
        i += 4;
        unsigned long cp = static_cast<unsigned long>(unit);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 6 <= text.size() && text[i] == '\\' &&
            text[i + 1] == 'u') {
          long low = read_hex4(text, i + 2);
          if (low >= 0xDC00 && low <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<unsigned long>(low) - 0xDC00);
            i += 6;
          }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;  // a lone surrogate
        std::string utf8;
        append_utf8(utf8, cp);
        out += utf8_to_gbk(utf8);
        break;
      }
      default:  // \" \\ \/ and anything else: the character itself
        out += e;
    }
  }
  return false;
}

}  // namespace

std::string origin_of(const std::string& address) {
  std::size_t sep = address.find("://");
  if (sep == std::string::npos || sep == 0) return {};
  for (std::size_t i = 0; i < sep; ++i) {
    char c = address[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return {};
  }
  std::size_t end = address.find_first_of("/?#", sep + 3);
  return address.substr(0, end == std::string::npos ? address.size() : end);
}

std::string resolve_location(const std::string& base, const std::string& location) {
  if (!origin_of(location).empty()) return location;
  const std::string origin = origin_of(base);
  if (origin.empty()) return location;
  if (location.compare(0, 2, "//") == 0) return origin.substr(0, origin.find("://") + 1) + location;
  if (!location.empty() && location[0] == '/') return origin + location;
  // A relative path replaces the last segment of the base's path.
  std::string path = base.substr(origin.size());
  path = path.substr(0, path.find_first_of("?#"));
  if (location.empty()) return origin + (path.empty() ? "/" : path);
  if (location[0] == '?') return origin + (path.empty() ? "/" : path) + location;
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "/" : path.substr(0, slash + 1);
  return origin + directory + location;
}

std::string cut_json_object(const std::string& page, const std::string& marker) {
  std::size_t at = find_local(page, marker);
  if (at == std::string::npos) return {};
  std::size_t begin = at + marker.size();
  while (begin < page.size() && is_space(page[begin]))
    ++begin;
  if (begin >= page.size() || page[begin] != '{') return {};
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = begin; i < page.size(); ++i) {
    char c = page[i];
    if (is_lead_byte(c)) {
      ++i;  // both bytes of a double-byte character
      continue;
    }
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth == 0) return page.substr(begin, i - begin + 1);
    }
  }
  return {};
}

std::string json_string_member(const std::string& reply, const std::string& key) {
  const std::string name = "\"" + key + "\"";
  std::size_t at = 0;
  while ((at = find_local(reply, name, at)) != std::string::npos) {
    std::size_t i = at + name.size();
    while (i < reply.size() && is_space(reply[i]))
      ++i;
    if (i < reply.size() && reply[i] == ':') {
      ++i;
      while (i < reply.size() && is_space(reply[i]))
        ++i;
      std::string value;
      if (i < reply.size() && reply[i] == '"' && decode_json_string(reply, i, value)) return value;
    }
    at += name.size();
  }
  return {};
}

std::string cookie_value(const std::string& cookies, const std::string& name) {
  for (const std::string& item : split_text(cookies, ";")) {
    if (cookie_name(item) != name) continue;
    std::size_t eq = item.find('=');
    return eq == std::string::npos ? std::string() : trim_spaces(item.substr(eq + 1));
  }
  return {};
}

}  // namespace sharelink
