#include "share/request_params.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <random>

#include "text/local_text.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

const std::string kQuotePlaceholder = "#引号";

}  // namespace

std::string timestamp_text_at(std::int64_t unix_millis, bool seconds_only) {
  std::int64_t seconds = unix_millis / 1000;
  int millis = static_cast<int>(unix_millis % 1000);
  std::string digits = std::to_string(millis);
  std::string text = std::to_string(seconds) + std::string(3 - digits.size(), '0') + digits;
  return seconds_only ? text.substr(0, 10) : text;
}

std::string timestamp_text(bool seconds_only) {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return timestamp_text_at(std::chrono::duration_cast<std::chrono::milliseconds>(now).count(),
                           seconds_only);
}

std::string random_digits(int count) {
  if (count <= 0) count = 19;
  // Seeded afresh at every call from the clock and a counter, so that two calls
  // within one clock tick still differ.
  static std::atomic<std::uint64_t> seedings{0};
  std::seed_seq seed{
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()),
      seedings.fetch_add(1) + 1, static_cast<std::uint64_t>(std::random_device{}())};
  std::mt19937_64 generator(seed);
  std::uniform_int_distribution<int> digit(0, 9);
  std::string text;
  text.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    text += static_cast<char>('0' + digit(generator));
  return text;
}

std::string make_logid() {
  return base64_encode(timestamp_text() + "." + random_digits(19));
}

std::string base64_encode(const std::string& data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < data.size(); i += 3) {
    std::size_t left = data.size() - i;
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << 16;
    if (left > 1) group |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8;
    if (left > 2) group |= static_cast<unsigned char>(data[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    out += left > 2 ? kAlphabet[group & 63] : '=';
  }
  return out;
}

std::string strip_slashes(const std::string& text, bool forward) {
  const char slash = forward ? '/' : '\\';
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != slash) out += c;
  }
  return out;
}

std::string text_between(const std::string& text, const std::string& before,
                         const std::string& after, int start, bool ignore_case) {
  const std::string open = replace_all(before, kQuotePlaceholder, "\"");
  const std::string close = replace_all(after, kQuotePlaceholder, "\"");
  std::size_t from = start > 1 ? static_cast<std::size_t>(start - 1) : 0;
  std::size_t at = find_local(text, open, from, ignore_case);
  if (at == std::string::npos) return {};
  std::size_t begin = at + open.size();
  std::size_t end = find_local(text, close, begin, ignore_case);
  if (end == std::string::npos) return {};
  return text.substr(begin, end - begin);
}

std::string percent_decode(const std::string& text, bool from_utf8) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_digit_value(text[i + 1]) >= 0 &&
        hex_digit_value(text[i + 2]) >= 0) {
      const char byte =
          static_cast<char>(hex_digit_value(text[i + 1]) * 16 + hex_digit_value(text[i + 2]));
      // The converter ends a text at a zero byte: "%00" would cut off the rest.
      if (byte == '\0' && from_utf8) {
        out += "\xEF\xBF\xBD";
      } else {
        out += byte;
      }
      i += 2;
    } else {
      out += text[i];
    }
  }
  return from_utf8 ? utf8_to_gbk(out) : out;
}

namespace {

bool is_unreserved(unsigned char b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
         b == '_' || b == '.' || b == '~';
}

}  // namespace

std::string percent_encode(const std::string& text) {
  return percent_escape(gbk_to_utf8(text), [](unsigned char b) { return !is_unreserved(b); });
}

std::string escape_form_value(const std::string& value) {
  static const char kHex[] = "0123456789ABCDEF";
  auto is_hex = [&](std::size_t at) {
    return at < value.size() && std::isxdigit(static_cast<unsigned char>(value[at])) != 0;
  };
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto b = static_cast<unsigned char>(value[i]);
    if (is_unreserved(b) || (b == '%' && is_hex(i + 1) && is_hex(i + 2))) {
      out += value[i];
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

}  // namespace sharelink
