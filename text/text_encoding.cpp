#include "text/text_encoding.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string_view>
#include <vector>

#include "text/text_encoding_codec.h"

namespace sharelink {

namespace {

using codec::kLocal;
using codec::kUtf8;
using codec::kWide;

const char* charset_of_code_page(int code_page) {
  switch (code_page) {
    case kCodePageLocal:
    case kCodePageGbk:
    case 54936:
      return kLocal;
    case kCodePageUtf8:
      return kUtf8;
    case 950:
      return "BIG5";
    case 1200:
      return kWide;
    case 1201:
      return "UTF-16BE";
    case 1252:
      return "WINDOWS-1252";
    case 20127:
      return "ASCII";
    case 28591:
      return "ISO-8859-1";
    default:
      return nullptr;
  }
}

// The wide units up to (not including) the first zero unit; an odd last byte is dropped.
Bytes wide_until_zero(const Bytes& wide) {
  std::size_t units = wide.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    if (wide[2 * i] == '\0' && wide[2 * i + 1] == '\0') return wide.substr(0, 2 * i);
  }
  return wide.substr(0, units * 2);
}

const Bytes kZeroUnit("\0\0", 2);

std::string lower_ascii(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The name of a declared charset as the converter takes it. Pages labelled
// gb2312 or gbk routinely hold characters from the wider GBK and GB18030 sets,
// so these labels decode as GB18030, as browsers do. Names with characters
// outside a charset name's alphabet are refused, so a page cannot pass iconv
// options such as "//IGNORE".
std::optional<std::string> converter_name(const std::string& charset) {
  if (charset.empty() || charset.size() > 40) return std::nullopt;
  for (char c : charset) {
    bool ok =
        std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == ':';
    if (!ok) return std::nullopt;
  }
  std::string name = lower_ascii(charset);
  if (name == "gb2312" || name == "gbk" || name == "x-gbk" || name == "cp936" || name == "ms936" ||
      name == "windows-936" || name == "csgb2312" || name == "gb18030") {
    return std::string(kLocal);
  }
  if (name == "utf8") return std::string(kUtf8);
  return name;
}

}  // namespace

Bytes gbk_to_utf16(const std::string& text, bool drop_terminator) {
  if (text.empty()) return {};
  Bytes wide = codec::to_wide(until_zero(text), kLocal).value_or(Bytes{});
  if (!drop_terminator) wide += kZeroUnit;
  return wide;
}

std::string utf16_to_gbk(const Bytes& wide) {
  return until_zero(codec::from_wide(wide_until_zero(wide), kLocal).value_or(std::string{}));
}

Bytes decode_to_utf16(const std::string& text, int code_page) {
  const char* charset = charset_of_code_page(code_page);
  Bytes wide;
  if (charset != nullptr) wide = codec::to_wide(until_zero(text), charset).value_or(Bytes{});
  return wide + kZeroUnit;
}

std::string encode_from_utf16(const Bytes& wide, int code_page) {
  const char* charset = charset_of_code_page(code_page);
  if (charset == nullptr) return {};
  return until_zero(codec::from_wide(wide_until_zero(wide), charset).value_or(std::string{}));
}

namespace {

std::string_view until_zero_view(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

bool is_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// The end of the run of local characters that starts with a lead byte at begin:
// two-byte characters take any trail byte, four-byte ones have a digit second.
// Whether the bytes really are characters is left to the converter.
std::size_t local_run_end(std::string_view text, std::size_t begin) {
  std::size_t i = begin;
  while (i < text.size() && is_lead_byte(text[i])) {
    const bool four = i + 1 < text.size() && is_digit(static_cast<unsigned char>(text[i + 1]));
    i = std::min(text.size(), i + (four ? 4 : 2));
  }
  return i;
}

std::size_t utf8_run_end(std::string_view text, std::size_t begin) {
  std::size_t i = begin;
  while (i < text.size() && is_lead_byte(text[i]))
    ++i;
  return i;
}

// Both encodings keep ASCII as it is, and most of a reply is ASCII: only the
// runs of other characters go through the converter, each run that converts
// cleanly on its own. From the first run that does not, the rest of the text
// takes the general path with its replacement characters, so the result is the
// same as converting the whole text there.
template <typename RunEnd, typename Exact, typename General>
std::string convert_runs(std::string_view text, RunEnd run_end, Exact exact, General general) {
  std::size_t i = 0;
  while (i < text.size() && !is_lead_byte(text[i]))
    ++i;
  if (i == text.size()) return std::string(text);
  std::string out;
  // Short texts, most fields, stay in the string's own buffer.
  if (text.size() > 64) out.reserve(text.size() + text.size() / 2);
  out.append(text, 0, i);
  while (i < text.size()) {
    std::size_t ascii_end = i;
    while (ascii_end < text.size() && !is_lead_byte(text[ascii_end]))
      ++ascii_end;
    out.append(text, i, ascii_end - i);
    if (ascii_end == text.size()) break;
    const std::size_t end = run_end(text, ascii_end);
    if (!exact(text.substr(ascii_end, end - ascii_end), out)) {
      out += general(std::string(text.substr(ascii_end)));
      break;
    }
    i = end;
  }
  return out;
}

// The two-byte local characters and the characters they stand for, both ways.
// Nearly every character beyond ASCII in a reply is one of them, and a table
// look-up costs a fraction of a converter call. The tables are read from the
// platform's converter itself, once, so they give exactly what it gives; the
// rest (four-byte characters, bytes that are no characters) still goes
// through the converter.
class TwoByteTables {
 public:
  static const TwoByteTables& get() {
    static const TwoByteTables tables;
    return tables;
  }

  // The character of lead and trail, or 0 when they are no two-byte character.
  std::uint16_t to_unicode(unsigned char lead, unsigned char trail) const {
    if (lead < 0x81 || lead == 0xFF || trail < 0x40 || trail == 0x7F || trail == 0xFF) return 0;
    return to_unicode_[(lead - 0x81) * kTrails + (trail - 0x40)];
  }

  // The two-byte local form of a character (lead << 8 | trail), or 0.
  std::uint16_t to_local(std::uint32_t code) const {
    return code < to_local_.size() ? to_local_[code] : 0;
  }

 private:
  static constexpr int kTrails = 0xFF - 0x40;  // 0x40..0xFE, 0x7F unused

  TwoByteTables() : to_unicode_(static_cast<std::size_t>(0xFF - 0x81) * kTrails, 0) {
    std::string codes;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        codes += static_cast<char>(lead);
        codes += static_cast<char>(trail);
      }
    }
    // One wide unit per character, read in one call when every code is a
    // character (as in GB18030), code by code when some are not (GBK, where
    // the platform lacks GB18030).
    std::string units;
    const bool whole =
        codec::append_exact(codes, kLocal, kWide, units) && units.size() == codes.size();
    // Only characters that come back as the same two bytes go both ways. In
    // GB18030 all do, which one call over the whole table shows.
    std::string back;
    const bool all_return =
        whole && codec::append_exact(units, kWide, kLocal, back) && back == codes;
    std::vector<std::uint16_t> to_local(0x10000, 0);
    std::string unit;
    for (std::size_t i = 0; i < codes.size(); i += 2) {
      const std::string_view local = std::string_view(codes).substr(i, 2);
      unit.clear();
      if (whole) {
        unit = units.substr(i, 2);
      } else if (!codec::append_exact(local, kLocal, kWide, unit) || unit.size() != 2) {
        continue;
      }
      const std::uint32_t code = static_cast<unsigned char>(unit[0]) |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(unit[1]))
                                     << 8;
      // ASCII, and halves of characters beyond the first plane, stay with the converter.
      if (code < 0x80 || (code >= 0xD800 && code <= 0xDFFF)) continue;
      if (!all_return) {
        back.clear();
        if (!codec::append_exact(unit, kWide, kLocal, back) || back != local) continue;
      }
      const auto lead = static_cast<unsigned char>(codes[i]);
      const auto trail = static_cast<unsigned char>(codes[i + 1]);
      to_unicode_[(lead - 0x81) * kTrails + (trail - 0x40)] = static_cast<std::uint16_t>(code);
      to_local[code] = static_cast<std::uint16_t>(lead << 8 | trail);
    }
    to_local_ = std::move(to_local);
  }

  std::vector<std::uint16_t> to_unicode_;
  std::vector<std::uint16_t> to_local_;
};

void append_utf8_code(std::uint32_t code, std::string& out) {
  if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (code & 0x3F));
}

// The code of a two- or three-byte UTF-8 sequence at text[i] and its length;
// 0 for anything else (four-byte characters, invalid bytes).
std::uint32_t utf8_bmp_code(std::string_view text, std::size_t i, std::size_t& length) {
  const auto byte = [&](std::size_t at) {
    return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
  };
  const unsigned lead = byte(i);
  const unsigned second = byte(i + 1);
  if ((second & 0xC0) != 0x80) return 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    return (lead & 0x1F) << 6 | (second & 0x3F);
  }
  const unsigned third = byte(i + 2);
  if (lead < 0xE0 || lead > 0xEF || (third & 0xC0) != 0x80) return 0;
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0)) return 0;
  length = 3;
  return (lead & 0x0F) << 12 | (second & 0x3F) << 6 | (third & 0x3F);
}

}  // namespace

bool append_utf8_of_local(std::string_view local, std::string& out) {
  const TwoByteTables& tables = TwoByteTables::get();
  const std::size_t before = out.size();
  for (std::size_t i = 0; i < local.size(); i += 2) {
    const std::uint16_t code = i + 1 < local.size()
                                   ? tables.to_unicode(static_cast<unsigned char>(local[i]),
                                                       static_cast<unsigned char>(local[i + 1]))
                                   : 0;
    if (code == 0) {
      if (codec::append_exact(local.substr(i), kLocal, kUtf8, out)) return true;
      out.resize(before);
      return false;
    }
    append_utf8_code(code, out);
  }
  return true;
}

bool append_local_of_utf8(std::string_view utf8, std::string& out) {
  const TwoByteTables& tables = TwoByteTables::get();
  const std::size_t before = out.size();
  std::size_t length = 0;
  for (std::size_t i = 0; i < utf8.size(); i += length) {
    const std::uint16_t local = tables.to_local(utf8_bmp_code(utf8, i, length));
    if (local == 0) {
      if (codec::append_exact(utf8.substr(i), kUtf8, kLocal, out)) return true;
      out.resize(before);
      return false;
    }
    out += static_cast<char>(local >> 8);
    out += static_cast<char>(local & 0xFF);
  }
  return true;
}

std::string utf8_to_gbk(std::string_view utf8) {
  const auto by_runs = [](std::string_view text) {
    return convert_runs(text, utf8_run_end, append_local_of_utf8, [](const std::string& rest) {
      return encode_from_utf16(decode_to_utf16(rest, kCodePageUtf8), kCodePageGbk);
    });
  };
  utf8 = until_zero_view(utf8);
  // Every field of every reply read comes here: characters the table knows are
  // written straight into a buffer; from the run holding the first it does not
  // know, the text goes by runs. Through the table no character grows.
  constexpr std::size_t kOnStack = 256;
  char on_stack[kOnStack];
  std::string on_heap;
  char* const begin =
      utf8.size() <= kOnStack ? on_stack : (on_heap.resize(utf8.size()), on_heap.data());
  char* out = begin;
  const TwoByteTables& tables = TwoByteTables::get();
  std::size_t run = 0;    // where the current run of other characters starts
  char* run_out = begin;  // and where its conversion does
  for (std::size_t i = 0; i < utf8.size();) {
    const char c = utf8[i];
    if (!is_lead_byte(c)) {
      *out++ = c;
      run = ++i;
      run_out = out;
      continue;
    }
    std::size_t length = 0;
    const std::uint16_t local = tables.to_local(utf8_bmp_code(utf8, i, length));
    if (local == 0) return std::string(begin, run_out) + by_runs(utf8.substr(run));
    *out++ = static_cast<char>(local >> 8);
    *out++ = static_cast<char>(local & 0xFF);
    i += length;
  }
  return std::string(begin, out);
}

std::string gbk_to_utf8(std::string_view text) {
  return convert_runs(until_zero_view(text), local_run_end, append_utf8_of_local,
                      [](const std::string& rest) {
                        return encode_from_utf16(gbk_to_utf16(rest, true), kCodePageUtf8);
                      });
}

std::optional<std::string> recode_by_charset(const Bytes& body, const std::string& charset) {
  const std::optional<std::string> name = converter_name(charset);
  if (!name) return std::nullopt;
  return codec::recode_to_local(body, *name);
}

}  // namespace sharelink
