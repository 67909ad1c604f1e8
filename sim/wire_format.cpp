#include "sim/wire_format.h"

#include <cstdint>
#include <cstdio>

namespace sharelink::sim {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Length of the UTF-8 sequence at text[pos] with its code point, or 0 when the
// bytes there are not a well-formed, shortest-form sequence of a scalar value.
std::size_t decode_utf8(std::string_view text, std::size_t pos, std::uint32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  std::uint32_t min = 0;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, min = 0x80, cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, min = 0x800, cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, cp = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

void append_u_escape(std::string& out, std::uint32_t unit) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(unit));
  out += buf;
}

void append_string(std::string& out, std::string_view text, const JsonStyle& style) {
  out += '"';
  for (std::size_t pos = 0; pos < text.size();) {
    std::uint32_t cp = 0;
    std::size_t length = decode_utf8(text, pos, cp);
    const bool invalid = length == 0;
    if (invalid) {
      cp = 0xFFFD;  // a stray byte: keep the reply valid JSON
      length = 1;
    }
    if (cp == '"' || cp == '\\' || cp == '/') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp >= 0x80 && style.raw_utf8) {
      out.append(invalid ? std::string_view("\xEF\xBF\xBD") : text.substr(pos, length));
    } else if (cp > 0xFFFF) {
      append_u_escape(out, 0xD800 + ((cp - 0x10000) >> 10));
      append_u_escape(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else if (cp >= 0x20 && cp < 0x80 && !(cp == '&' && style.hex_amp)) {
      out += static_cast<char>(cp);
    } else {
      append_u_escape(out, cp);  // control characters, non-ASCII, "&" with hex_amp
    }
    pos += length;
  }
  out += '"';
}

void append_value(std::string& out, const nlohmann::ordered_json& value, const JsonStyle& style) {
  if (value.is_object()) {
    out += '{';
    bool first = true;
    for (const auto& item : value.items()) {
      if (!first) out += ',';
      first = false;
      append_string(out, item.key(), style);
      out += ':';
      append_value(out, item.value(), style);
    }
    out += '}';
  } else if (value.is_array()) {
    out += '[';
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (i > 0) out += ',';
      append_value(out, value[i], style);
    }
    out += ']';
  } else if (value.is_string()) {
    append_string(out, value.get_ref<const std::string&>(), style);
  } else {
    out += value.dump();  // numbers, booleans and null have one spelling
  }
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool is_unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

int base64_value(char c) {
  for (int i = 0; i < 64; ++i) {
    if (kBase64[i] == c) return i;
  }
  return -1;
}

}  // namespace

std::string encode_json(const nlohmann::ordered_json& value, const JsonStyle& style) {
  std::string out;
  append_value(out, value, style);
  return out;
}

std::string percent_encode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (is_unreserved(byte)) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

bool is_percent_encoded(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size()) return false;
      if (hex_value(text[i + 1]) < 0 || hex_value(text[i + 2]) < 0) return false;
      i += 2;
    } else if (!is_unreserved(static_cast<unsigned char>(text[i]))) {
      return false;
    }
  }
  return true;
}

bool percent_decode(std::string_view text, std::string& out, bool plus_as_space) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size()) return false;
      const int high = hex_value(text[i + 1]);
      const int low = hex_value(text[i + 2]);
      if (high < 0 || low < 0) return false;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (text[i] == '+' && plus_as_space) {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return true;
}

bool is_valid_utf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    std::uint32_t cp = 0;
    const std::size_t length = decode_utf8(text, pos, cp);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::string base64_encode(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64[(group >> 18) & 63];
    out += kBase64[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kBase64[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kBase64[group & 63] : '=';
  }
  return out;
}

bool base64_decode(std::string_view text, std::string& out) {
  out.clear();
  if (text.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int values[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        values[k] = 0;
        ++padding;
        continue;
      }
      if (padding > 0) return false;  // data after padding
      values[k] = base64_value(c);
      if (values[k] < 0) return false;
    }
    const std::uint32_t group =
        (values[0] << 18) | (values[1] << 12) | (values[2] << 6) | values[3];
    out += static_cast<char>((group >> 16) & 0xFF);
    if (padding < 2) out += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) out += static_cast<char>(group & 0xFF);
  }
  return true;
}

std::string html_escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace sharelink::sim
