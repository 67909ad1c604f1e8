#pragma once

// The JSON grammar over local text, for the parsers of json_text.h and
// json_tape.h, which differ only in what they build: the reader hands each
// value to a sink. Replies are mostly ASCII, so instead of converting the whole
// text to UTF-8 first, only the runs of other characters inside strings are
// converted. It accepts exactly what the JSON grammar allows, as nlohmann's
// parser did on the converted text.
//
// A sink has: a constructor taking the text, open(bool object),
// close(), key(std::string_view), string(std::string_view),
// unsigned_integer(std::uint64_t), integer(std::int64_t), floating(double),
// boolean(bool), null(), and take() giving its Result. Strings and names are
// UTF-8, valid only during the call.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/json_number.h"
#include "script/json_text.h"
#include "text/text_encoding.h"

namespace sharelink::json_reader {

// The byte order mark: U+FEFF in GB18030 and in UTF-8. A text may start with it.
constexpr std::string_view kLocalBom("\x84\x31\x95\x33", 4);
constexpr std::string_view kUtf8Bom("\xEF\xBB\xBF", 3);

// Objects up to this many members find a repeated name by a linear search;
// wider ones keep a KeyIndex, so a wide object does not make reading quadratic.
constexpr std::size_t kLinearKeySearch = 16;

inline bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Bytes a string literal holds as they are: printable ASCII but quote and
// backslash.
struct PlainBytes {
  bool table[256] = {};
  constexpr PlainBytes() {
    for (int c = 0x20; c < 0x80; ++c)
      table[c] = c != '"' && c != '\\';
  }
};
inline constexpr PlainBytes kPlainBytes;

inline bool is_plain(char c) {
  return kPlainBytes.table[static_cast<unsigned char>(c)];
}

struct HexDigits {
  signed char value[256] = {};
  constexpr HexDigits() {
    for (int c = 0; c < 256; ++c)
      value[c] = -1;
    for (int c = 0; c < 10; ++c)
      value['0' + c] = static_cast<signed char>(c);
    for (int c = 0; c < 6; ++c) {
      value['a' + c] = static_cast<signed char>(10 + c);
      value['A' + c] = static_cast<signed char>(10 + c);
    }
  }
};
inline constexpr HexDigits kHexDigits;

// Positions of an object's names, open addressing over positions 0..count-1.
// Names are looked up through name_at(position), as they may move.
class KeyIndex {
 public:
  void clear() { slots_.clear(); }

  // The position of key, or count when it is new (then recorded as position
  // count).
  template <typename NameAt>
  std::size_t find_or_add(std::size_t count, NameAt name_at, std::string_view key) {
    if (slots_.size() < 2 * (count + 1)) rebuild(count, name_at);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash(key) & mask;; slot = (slot + 1) & mask) {
      if (slots_[slot] == 0) {
        slots_[slot] = count + 1;
        return count;
      }
      const std::size_t position = slots_[slot] - 1;
      if (name_at(position) == key) return position;
    }
  }

 private:
  static std::size_t hash(std::string_view key) { return std::hash<std::string_view>()(key); }

  template <typename NameAt>
  void rebuild(std::size_t count, NameAt name_at) {
    std::size_t size = 64;
    while (size < 4 * (count + 1))
      size *= 2;
    slots_.assign(size, 0);
    const std::size_t mask = size - 1;
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t slot = hash(name_at(i)) & mask;
      while (slots_[slot] != 0)
        slot = (slot + 1) & mask;
      slots_[slot] = i + 1;
    }
  }

  std::vector<std::size_t> slots_;
};

template <typename Sink>
class Reader {
 public:
  // local: the text is local text; otherwise it is UTF-8 made from local text
  // by the converter, so every character in it is whole and valid.
  Reader(std::string_view text, bool local, Sink& sink)
      : p_(text.data()), end_(p_ + text.size()), local_(local), sink_(sink) {
    const std::string_view bom = local ? kLocalBom : kUtf8Bom;
    if (text.substr(0, bom.size()) == bom) p_ += bom.size();
  }

  // True when the text is exactly one JSON value, all of it handed to the sink.
  bool read() {
    skip_space();
    if (!read_value()) return false;
    while (!open_.empty()) {
      skip_space();
      if (p_ == end_) return false;
      Open& top = open_.back();
      if (*p_ == (top.object ? '}' : ']')) {
        ++p_;
        open_.pop_back();
        sink_.close();
        continue;
      }
      if (top.count++ > 0) {
        if (*p_ != ',') return false;
        ++p_;
        skip_space();
      }
      if (top.object && !read_key()) return false;
      if (!read_value()) return false;
    }
    skip_space();
    return p_ == end_;
  }

  int depth() const { return deepest_; }
  // The text holds local bytes that are no whole characters: the caller must
  // convert it with replacements and read it again.
  bool needs_converted_text() const { return unconverted_; }

 private:
  struct Open {
    bool object;
    std::size_t count;
  };

  void skip_space() {
    while (p_ != end_ && is_space(*p_))
      ++p_;
  }

  bool read_key() {
    if (p_ == end_ || *p_ != '"') return false;
    std::string_view key;
    if (!read_string(key)) return false;
    skip_space();
    if (p_ == end_ || *p_ != ':') return false;
    ++p_;
    skip_space();
    sink_.key(key);
    return true;
  }

  bool read_value() {
    if (p_ == end_) return false;
    switch (*p_) {
      case '{':
      case '[': {
        if (open_.size() >= static_cast<std::size_t>(kMaxJsonDepth)) return false;
        const bool object = *p_ == '{';
        ++p_;
        open_.push_back(Open{object, 0});
        deepest_ = std::max(deepest_, static_cast<int>(open_.size()));
        sink_.open(object);
        return true;
      }
      case '"': {
        std::string_view text;
        if (!read_string(text)) return false;
        sink_.string(text);
        return true;
      }
      case 't':
        if (!literal("true")) return false;
        sink_.boolean(true);
        return true;
      case 'f':
        if (!literal("false")) return false;
        sink_.boolean(false);
        return true;
      case 'n':
        if (!literal("null")) return false;
        sink_.null();
        return true;
      default:
        return read_number();
    }
  }

  bool literal(std::string_view word) {
    if (static_cast<std::size_t>(end_ - p_) < word.size() ||
        std::string_view(p_, word.size()) != word) {
      return false;
    }
    p_ += word.size();
    return true;
  }

  bool read_number() {
    const std::optional<JsonNumber> number = read_json_number(p_, end_);
    if (!number) return false;
    switch (number->kind) {
      case JsonNumber::Kind::unsigned_integer:
        sink_.unsigned_integer(number->unsigned_integer);
        break;
      case JsonNumber::Kind::integer:
        sink_.integer(number->integer);
        break;
      case JsonNumber::Kind::floating:
        sink_.floating(number->floating);
        break;
    }
    return true;
  }

  // Reads a string literal at p_ (on its opening quote) as UTF-8: a view of the
  // text itself when it holds no escapes and nothing beyond ASCII, else of the
  // decoded copy in buffer_, valid until the next string is read.
  bool read_string(std::string_view& text) {
    const char* begin = ++p_;
    while (p_ != end_ && is_plain(*p_))
      ++p_;
    if (p_ != end_ && *p_ == '"') {
      text = std::string_view(begin, static_cast<std::size_t>(p_ - begin));
      ++p_;
      return true;
    }
    buffer_.assign(begin, static_cast<std::size_t>(p_ - begin));
    for (;;) {
      const char* run = p_;
      while (p_ != end_ && is_plain(*p_))
        ++p_;
      if (p_ != run) buffer_.append(run, static_cast<std::size_t>(p_ - run));
      if (p_ == end_) return false;
      const auto c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        ++p_;
        text = buffer_;
        return true;
      }
      if (c == '\\') {
        if (!read_escape(buffer_)) return false;
      } else if (c >= 0x80) {
        if (!read_other_characters(buffer_)) return false;
      } else {
        return false;  // a control character
      }
    }
  }

  // A run of characters beyond ASCII inside a string.
  bool read_other_characters(std::string& out) {
    const char* begin = p_;
    if (!local_) {
      while (p_ != end_ && static_cast<unsigned char>(*p_) >= 0x80)
        ++p_;
      out.append(begin, static_cast<std::size_t>(p_ - begin));
      return true;
    }
    // Two-byte characters take any trail byte, even a quote's or a backslash's
    // neighbours; four-byte ones have digits second and fourth.
    while (p_ != end_ && static_cast<unsigned char>(*p_) >= 0x80) {
      const bool four = end_ - p_ > 1 && is_digit(p_[1]);
      p_ += std::min<std::ptrdiff_t>(end_ - p_, four ? 4 : 2);
    }
    if (append_utf8_of_local(std::string_view(begin, static_cast<std::size_t>(p_ - begin)), out)) {
      return true;
    }
    unconverted_ = true;
    return false;
  }

  bool read_escape(std::string& out) {
    if (end_ - p_ < 2) return false;
    const char kind = p_[1];
    p_ += 2;
    switch (kind) {
      case '"':
      case '\\':
      case '/':
        out += kind;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        return read_unicode_escape(out);
      default:
        return false;
    }
  }

  // After "\u": four hex digits; a high surrogate must be followed by "\u" and
  // a low one.
  bool read_unicode_escape(std::string& out) {
    long unit = read_hex4();
    if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;
    std::uint32_t code = static_cast<std::uint32_t>(unit);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
      p_ += 2;
      const long low = read_hex4();
      if (low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + static_cast<std::uint32_t>(low - 0xDC00);
    }
    append_utf8(code, out);
    return true;
  }

  long read_hex4() {
    if (end_ - p_ < 4) return -1;
    long value = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = kHexDigits.value[static_cast<unsigned char>(p_[i])];
      if (digit < 0) return -1;
      value = value * 16 + digit;
    }
    p_ += 4;
    return value;
  }

  static void append_utf8(std::uint32_t code, std::string& out) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  const char* p_;
  const char* end_;
  bool local_;
  Sink& sink_;
  bool unconverted_ = false;
  std::vector<Open> open_;
  std::string buffer_;  // a string with escapes or other characters, decoded
  int deepest_ = 0;
};

// Reads local_text into a sink; nullopt when it is not exactly one JSON value.
// A text whose local bytes are no whole characters is read again as the
// converter of the whole text turns it into UTF-8: only that places
// replacement characters exactly as it always has.
template <typename Sink>
std::optional<typename Sink::Result> read_text(const std::string& local_text, int& depth) {
  // A zero byte can stand nowhere in a JSON text; local text would also end there.
  if (local_text.find('\0') != std::string::npos) return std::nullopt;
  bool retry = false;
  const auto attempt = [&](std::string_view text,
                           bool local) -> std::optional<typename Sink::Result> {
    Sink sink(text);
    Reader<Sink> reader(text, local, sink);
    if (!reader.read()) {
      retry = reader.needs_converted_text();
      return std::nullopt;
    }
    depth = reader.depth();
    return sink.take();
  };
  std::optional<typename Sink::Result> result = attempt(local_text, true);
  if (!result && retry) result = attempt(gbk_to_utf8(local_text), false);
  return result;
}

}  // namespace sharelink::json_reader
