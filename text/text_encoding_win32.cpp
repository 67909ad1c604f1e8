// The charset converter on Windows: MultiByteToWideChar and WideCharToMultiByte.
//
// Local text is GB18030, code page 54936, so it holds the same bytes as on
// Linux. Wine 8 lacks that code page; there local text falls back to GBK (936)
// for the one- and two-byte characters, with the euro sign as GB18030 has it,
// and the four-byte characters beyond the first plane, which follow from a
// formula, are converted here. Four-byte characters inside the first plane
// need GB18030's own table and become replacement characters there (all but
// U+FFFD itself, which stands for bad bytes).

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/text_encoding_codec.h"

namespace sharelink::codec {

namespace {

constexpr UINT kGb18030 = 54936;
constexpr UINT kGbk = 936;
constexpr wchar_t kReplacement = 0xFFFD;

// How the bytes of a charset group into characters, so that a long text can be
// cut between two characters and converted a piece at a time.
enum class Form {
  single_byte,
  double_byte,  // a lead byte and one more, as the code page's table says
  euc_jp,       // EUC-JP: 0x8F starts three bytes, other high bytes two
  gb18030,      // local text: a lead byte and one more, or four with digits
  utf8,
  utf16le,
  utf16be,
  utf16,  // a byte-order mark says which; little-endian without one, as iconv reads it
};

struct CodePage {
  UINT number;
  Form form;
};

bool platform_has_gb18030() {
  static const bool has = IsValidCodePage(kGb18030) != 0;
  return has;
}

const CodePage kLocalPage{kGb18030, Form::gb18030};

// Charset names, lower case without '-', '_', '.' and ':', the way the names
// iconv knows for them are commonly spelled; only code pages every Windows has.
struct NamedPage {
  const char* name;
  CodePage page;
};
constexpr NamedPage kNamedPages[] = {
    {"gb18030", {kGb18030, Form::gb18030}},
    {"utf8", {CP_UTF8, Form::utf8}},
    {"utf16", {1200, Form::utf16}},
    {"utf16le", {1200, Form::utf16le}},
    {"utf16be", {1201, Form::utf16be}},
    {"ucs2le", {1200, Form::utf16le}},
    {"big5", {950, Form::double_byte}},
    {"cp950", {950, Form::double_byte}},
    {"shiftjis", {932, Form::double_byte}},
    {"sjis", {932, Form::double_byte}},
    {"cp932", {932, Form::double_byte}},
    {"windows31j", {932, Form::double_byte}},
    {"mskanji", {932, Form::double_byte}},
    {"eucjp", {20932, Form::euc_jp}},
    {"euckr", {949, Form::double_byte}},
    {"cp949", {949, Form::double_byte}},
    {"uhc", {949, Form::double_byte}},
    {"ksc56011987", {949, Form::double_byte}},
    {"ascii", {20127, Form::single_byte}},
    {"usascii", {20127, Form::single_byte}},
    {"latin1", {28591, Form::single_byte}},
    {"l1", {28591, Form::single_byte}},
    {"iso88591", {28591, Form::single_byte}},
    {"iso88592", {28592, Form::single_byte}},
    {"iso88593", {28593, Form::single_byte}},
    {"iso88594", {28594, Form::single_byte}},
    {"iso88595", {28595, Form::single_byte}},
    {"iso88596", {28596, Form::single_byte}},
    {"iso88597", {28597, Form::single_byte}},
    {"iso88598", {28598, Form::single_byte}},
    {"iso88599", {28599, Form::single_byte}},
    {"iso885913", {28603, Form::single_byte}},
    {"iso885915", {28605, Form::single_byte}},
    {"latin9", {28605, Form::single_byte}},
    {"koi8r", {20866, Form::single_byte}},
    {"koi8u", {21866, Form::single_byte}},
    {"cp437", {437, Form::single_byte}},
    {"ibm437", {437, Form::single_byte}},
    {"cp866", {866, Form::single_byte}},
    {"ibm866", {866, Form::single_byte}},
    {"cp874", {874, Form::single_byte}},
    {"windows874", {874, Form::single_byte}},
    {"cp1250", {1250, Form::single_byte}},
    {"windows1250", {1250, Form::single_byte}},
    {"cp1251", {1251, Form::single_byte}},
    {"windows1251", {1251, Form::single_byte}},
    {"cp1252", {1252, Form::single_byte}},
    {"windows1252", {1252, Form::single_byte}},
    {"cp1253", {1253, Form::single_byte}},
    {"windows1253", {1253, Form::single_byte}},
    {"cp1254", {1254, Form::single_byte}},
    {"windows1254", {1254, Form::single_byte}},
    {"cp1255", {1255, Form::single_byte}},
    {"windows1255", {1255, Form::single_byte}},
    {"cp1256", {1256, Form::single_byte}},
    {"windows1256", {1256, Form::single_byte}},
    {"cp1257", {1257, Form::single_byte}},
    {"windows1257", {1257, Form::single_byte}},
    {"cp1258", {1258, Form::single_byte}},
    {"windows1258", {1258, Form::single_byte}},
};

std::optional<CodePage> code_page_of(std::string_view charset) {
  std::string key;
  for (char c : charset) {
    if (c == '-' || c == '_' || c == '.' || c == ':') continue;
    key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  for (const NamedPage& named : kNamedPages) {
    if (key != named.name) continue;
    const CodePage page = named.page;
    if (page.form == Form::gb18030) return kLocalPage;
    // UTF-16 is converted here, not by the system.
    if (page.form == Form::utf16 || page.form == Form::utf16le || page.form == Form::utf16be ||
        IsValidCodePage(page.number)) {
      return page;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

// GB18030's four-byte characters are counted from 81 30 81 30: those of the
// first plane up to 84 31 A4 39, the others from 90 30 81 30 on.
constexpr std::uint32_t kLastInPlane = 39419;        // the count of 84 31 A4 39
constexpr std::uint32_t kFirstBeyondPlane = 189000;  // the count of 90 30 81 30

std::uint32_t four_byte_count(std::string_view four) {
  const auto b = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(four[i]));
  };
  return (((b(0) - 0x81) * 10 + (b(1) - 0x30)) * 126 + (b(2) - 0x81)) * 10 + (b(3) - 0x30);
}

// The length of the character at text[at] in local text or UTF-8, 0 when the
// bytes there are none. These two are checked here rather than by the
// system, so that both read them byte for byte as iconv does: a bad byte is
// one replacement character, and reading goes on with the next byte.
std::size_t checked_length(std::string_view text, std::size_t at, Form form) {
  const auto byte = [&](std::size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  const auto in = [](unsigned value, unsigned low, unsigned high) {
    return value >= low && value <= high;
  };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  if (form == Form::gb18030) {
    if (!in(lead, 0x81, 0xFE)) return 0;
    if (in(byte(1), 0x40, 0x7E) || in(byte(1), 0x80, 0xFE)) return 2;
    if (!in(byte(1), 0x30, 0x39) || !in(byte(2), 0x81, 0xFE) || !in(byte(3), 0x30, 0x39)) return 0;
    const std::uint32_t count = four_byte_count(text.substr(at, 4));
    const bool known = count <= kLastInPlane ||
                       (count >= kFirstBeyondPlane && count - kFirstBeyondPlane <= 0xFFFFF);
    return known ? 4 : 0;
  }
  const auto follows = [&](std::size_t i) { return in(byte(i), 0x80, 0xBF); };
  if (in(lead, 0xC2, 0xDF)) return follows(1) ? 2 : 0;
  if (in(lead, 0xE0, 0xEF)) {
    const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned high = lead == 0xED ? 0x9F : 0xBF;
    return in(byte(1), low, high) && follows(2) ? 3 : 0;
  }
  if (in(lead, 0xF0, 0xF4)) {
    const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
    return in(byte(1), low, high) && follows(2) && follows(3) ? 4 : 0;
  }
  return 0;
}

// The length of the character at text[at] in the given form: at least 1 (a
// bad byte of a checked form stands alone), never past the end.
std::size_t character_length(std::string_view text, std::size_t at, const CodePage& page) {
  const auto byte = [&](std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
  };
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 1;
  switch (page.form) {
    case Form::single_byte:
      break;
    case Form::double_byte:
      length = IsDBCSLeadByteEx(page.number, lead) ? 2 : 1;
      break;
    case Form::euc_jp:
      length = lead == 0x8F ? 3 : lead >= 0x8E ? 2 : 1;
      break;
    case Form::gb18030:
    case Form::utf8:
      length = std::max<std::size_t>(1, checked_length(text, at, page.form));
      break;
    case Form::utf16le:
    case Form::utf16be:
    case Form::utf16: {
      // A high surrogate takes its partner along.
      const unsigned high = page.form == Form::utf16be ? byte(at) : byte(at + 1);
      length = (high & 0xFC) == 0xD8 ? 4 : 2;
      break;
    }
  }
  return std::min(length, text.size() - at);
}

// Where a piece of text that starts at begin and holds about kPiece bytes ends
// between two characters.
constexpr std::size_t kPiece = std::size_t{256} << 10;

std::size_t piece_end(std::string_view text, std::size_t begin, const CodePage& page) {
  if (text.size() - begin <= kPiece) return text.size();
  if (page.form == Form::single_byte) return begin + kPiece;
  std::size_t at = begin;
  while (at < begin + kPiece)
    at += character_length(text, at, page);
  return at;
}

void append_units(const std::wstring& units, Bytes& out) {
  for (wchar_t unit : units) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>((unit >> 8) & 0xFF);
  }
}

std::wstring units_of(std::string_view wide) {
  std::wstring units(wide.size() / 2, L'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<wchar_t>(static_cast<unsigned char>(wide[2 * i]) |
                                    static_cast<unsigned char>(wide[2 * i + 1]) << 8);
  }
  return units;
}

bool is_high_surrogate(wchar_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(wchar_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// MultiByteToWideChar over a piece (at most kPiece bytes and a character);
// false when flags has MB_ERR_INVALID_CHARS and a byte is not a character.
bool system_decode(UINT code_page, DWORD flags, std::string_view bytes, std::wstring& out) {
  if (bytes.empty()) return true;
  if (bytes.size() > INT_MAX / 2) return false;
  const int length = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(code_page, flags, bytes.data(), length, nullptr, 0);
  if (units <= 0) return false;
  const std::size_t before = out.size();
  out.resize(before + static_cast<std::size_t>(units));
  if (MultiByteToWideChar(code_page, flags, bytes.data(), length, &out[before], units) != units) {
    out.resize(before);
    return false;
  }
  return true;
}

// WideCharToMultiByte over units without lone surrogates. With exact, false
// when a character has no form in the code page; otherwise such a character
// becomes '?' (and never its nearest look-alike).
bool system_encode(UINT code_page, std::wstring_view units, bool exact, std::string& out) {
  if (units.empty()) return true;
  DWORD flags = 0;
  const bool unicode = code_page == CP_UTF8 || code_page == kGb18030;
  if (!unicode) flags = WC_NO_BEST_FIT_CHARS;
  if (unicode && exact) flags = WC_ERR_INVALID_CHARS;
  const int length = static_cast<int>(units.size());
  BOOL used_default = FALSE;
  BOOL* used = unicode ? nullptr : &used_default;
  const int bytes =
      WideCharToMultiByte(code_page, flags, units.data(), length, nullptr, 0, nullptr, used);
  if (bytes <= 0 || (exact && used_default)) return false;
  const std::size_t before = out.size();
  out.resize(before + static_cast<std::size_t>(bytes));
  if (WideCharToMultiByte(code_page, flags, units.data(), length, &out[before], bytes, nullptr,
                          nullptr) != bytes) {
    out.resize(before);
    return false;
  }
  return true;
}

const std::string_view kLocalReplacement("\x84\x31\xA4\x37", 4);  // U+FFFD

// The character of a four-byte local character, or 0 in the first plane,
// which needs GB18030's own table, where the system lacks it. U+FFFD is the
// exception: it stands for every byte that is no character.
std::uint32_t four_byte_code(std::string_view four) {
  if (four == kLocalReplacement) return kReplacement;
  const std::uint32_t count = four_byte_count(four);
  return count >= kFirstBeyondPlane ? 0x10000 + (count - kFirstBeyondPlane) : 0;
}

void append_four_bytes(std::uint32_t code, std::string& out) {
  std::uint32_t count = code - 0x10000 + kFirstBeyondPlane;
  char four[4];
  four[3] = static_cast<char>(0x30 + count % 10);
  count /= 10;
  four[2] = static_cast<char>(0x81 + count % 126);
  count /= 126;
  four[1] = static_cast<char>(0x30 + count % 10);
  four[0] = static_cast<char>(0x81 + count / 10);
  out.append(four, 4);
}

// The euro sign, which GBK has as the single byte 80 where GB18030 has A2 E3.
constexpr wchar_t kEuro = 0x20AC;
const std::string_view kLocalEuro("\xA2\xE3", 2);

// Checked local text -> units where the system lacks GB18030: GBK for the
// runs between four-byte characters and the euro sign, the count for those.
bool decode_local_fallback(std::string_view text, bool exact, std::wstring& out) {
  const DWORD flags = exact ? MB_ERR_INVALID_CHARS : 0;
  std::size_t run = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = checked_length(text, at, Form::gb18030);
    const bool euro = length == 2 && text.substr(at, 2) == kLocalEuro;
    if (length != 4 && !euro) {
      at += std::max<std::size_t>(1, length);
      continue;
    }
    if (!system_decode(kGbk, flags, text.substr(run, at - run), out)) return false;
    if (euro) {
      out += kEuro;
      run = at += 2;
      continue;
    }
    const std::uint32_t code = four_byte_code(text.substr(at, 4));
    if (code == 0 && exact) return false;
    if (code == 0) {
      out += kReplacement;
    } else if (code > 0xFFFF) {
      out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(code);
    }
    at += 4;
    run = at;
  }
  return system_decode(kGbk, flags, text.substr(run), out);
}

bool encode_local_fallback(std::wstring_view units, bool exact, std::string& out) {
  std::size_t run = 0;
  for (std::size_t at = 0; at < units.size(); ++at) {
    const wchar_t unit = units[at];
    const bool pair = is_high_surrogate(unit) && at + 1 < units.size();
    if (unit != kReplacement && unit != kEuro && !pair) continue;
    if (!system_encode(kGbk, units.substr(run, at - run), exact, out)) return false;
    if (unit == kEuro) {
      out += kLocalEuro;
    } else if (pair) {
      const std::uint32_t code = 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) +
                                 (static_cast<std::uint32_t>(units[at + 1]) - 0xDC00);
      append_four_bytes(code, out);
      ++at;
    } else {
      out += kLocalReplacement;
    }
    run = at + 1;
  }
  return system_encode(kGbk, units.substr(run), exact, out);
}

// UTF-16 by hand: the system converters take no UTF-16. A surrogate without
// its partner is not a character.
bool decode_utf16(std::string_view bytes, bool big_endian, bool exact, std::wstring& out) {
  const std::size_t before = out.size();
  const std::size_t count = bytes.size() / 2;
  for (std::size_t i = 0; i < count; ++i) {
    const auto lo = static_cast<unsigned char>(bytes[2 * i + (big_endian ? 1 : 0)]);
    const auto hi = static_cast<unsigned char>(bytes[2 * i + (big_endian ? 0 : 1)]);
    out += static_cast<wchar_t>(lo | hi << 8);
  }
  bool whole = bytes.size() % 2 == 0;
  if (!whole) out += kReplacement;
  for (std::size_t i = before; i < out.size(); ++i) {
    if (is_high_surrogate(out[i]) && i + 1 < out.size() && is_low_surrogate(out[i + 1])) {
      ++i;
    } else if (is_high_surrogate(out[i]) || is_low_surrogate(out[i])) {
      out[i] = kReplacement;
      whole = false;
    }
  }
  if (exact && !whole) out.resize(before);
  return whole || !exact;
}

// Checked text, all of it characters -> units.
bool decode_characters(std::string_view bytes, const CodePage& page, bool exact,
                       std::wstring& out) {
  if (page.form == Form::gb18030 && !platform_has_gb18030()) {
    return decode_local_fallback(bytes, exact, out);
  }
  return system_decode(page.number, exact ? MB_ERR_INVALID_CHARS : 0, bytes, out);
}

// A piece of text (whole characters, except at the very end) -> units.
bool decode_piece(std::string_view bytes, const CodePage& page, bool exact, std::wstring& out) {
  switch (page.form) {
    case Form::utf16le:
      return decode_utf16(bytes, false, exact, out);
    case Form::utf16be:
      return decode_utf16(bytes, true, exact, out);
    case Form::utf16:
      return decode_utf16(bytes, false, exact, out);
    case Form::gb18030:
    case Form::utf8:
      break;
    default:
      return system_decode(page.number, exact ? MB_ERR_INVALID_CHARS : 0, bytes, out);
  }
  std::size_t run = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = checked_length(bytes, at, page.form);
    if (length > 0) {
      at += length;
      continue;
    }
    if (exact || !decode_characters(bytes.substr(run, at - run), page, false, out)) return false;
    out += kReplacement;
    run = ++at;
  }
  return decode_characters(bytes.substr(run), page, exact, out);
}

// A UTF-16 text's byte-order mark picks its form and is not text.
CodePage with_byte_order(std::string_view& text, CodePage page) {
  if (page.form != Form::utf16) return page;
  if (text.substr(0, 2) == std::string_view("\xFF\xFE", 2)) {
    text.remove_prefix(2);
    return CodePage{1200, Form::utf16le};
  }
  if (text.substr(0, 2) == std::string_view("\xFE\xFF", 2)) {
    text.remove_prefix(2);
    return CodePage{1201, Form::utf16be};
  }
  return CodePage{1200, Form::utf16le};
}

// Units -> charset; lone surrogates become '?' first, as no charset has them.
bool encode_units(std::wstring units, const CodePage& page, bool exact, std::string& out) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (is_high_surrogate(units[i]) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
      ++i;
    } else if (is_high_surrogate(units[i]) || is_low_surrogate(units[i])) {
      if (exact) return false;
      units[i] = L'?';
    }
  }
  switch (page.form) {
    case Form::utf16le:
    case Form::utf16:
      append_units(units, out);
      return true;
    case Form::utf16be:
      for (wchar_t unit : units) {
        out += static_cast<char>((unit >> 8) & 0xFF);
        out += static_cast<char>(unit & 0xFF);
      }
      return true;
    case Form::gb18030:
      if (!platform_has_gb18030()) return encode_local_fallback(units, exact, out);
      break;
    default:
      break;
  }
  // The system takes an int count: long texts go a piece at a time, never
  // splitting a surrogate pair.
  for (std::size_t at = 0; at < units.size();) {
    std::size_t end = std::min(units.size(), at + kPiece);
    if (end < units.size() && is_high_surrogate(units[end - 1])) --end;
    if (!system_encode(page.number, std::wstring_view(units).substr(at, end - at), exact, out)) {
      return false;
    }
    at = end;
  }
  return true;
}

// Text -> units a piece at a time, each piece handed to sink; false when exact
// and a byte is not part of a character.
template <typename Sink>
bool decode_pieces(std::string_view text, CodePage page, bool exact, Sink sink) {
  page = with_byte_order(text, page);
  std::wstring units;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = piece_end(text, at, page);
    units.clear();
    if (!decode_piece(text.substr(at, end - at), page, exact, units)) return false;
    sink(units);
    at = end;
  }
  return true;
}

}  // namespace

std::optional<Bytes> to_wide(std::string_view text, const char* charset) {
  const std::optional<CodePage> page = code_page_of(charset);
  if (!page) return std::nullopt;
  Bytes wide;
  wide.reserve(text.size() * 2);
  decode_pieces(text, *page, false,
                [&wide](const std::wstring& units) { append_units(units, wide); });
  return wide;
}

std::optional<std::string> from_wide(std::string_view wide, const char* charset) {
  const std::optional<CodePage> page = code_page_of(charset);
  if (!page) return std::nullopt;
  std::string out;
  encode_units(units_of(wide), *page, false, out);
  return out;
}

bool append_exact(std::string_view input, const char* from, const char* to, std::string& out) {
  const std::optional<CodePage> source = code_page_of(from);
  const std::optional<CodePage> target = code_page_of(to);
  if (!source || !target) return false;
  std::wstring units;
  if (source->form == Form::utf16le) {
    if (!decode_utf16(input, false, true, units)) return false;
  } else if (!decode_piece(input, *source, true, units)) {
    return false;
  }
  const std::size_t before = out.size();
  if (encode_units(std::move(units), *target, true, out)) return true;
  out.resize(before);
  return false;
}

std::optional<std::string> recode_to_local(std::string_view body, const std::string& charset) {
  const std::optional<CodePage> page = code_page_of(charset);
  if (!page) return std::nullopt;
  std::string text;
  text.reserve(body.size() + 16);
  bool first = true;
  decode_pieces(body, *page, false, [&](const std::wstring& units) {
    std::wstring_view piece(units);
    // The byte-order mark is a signature, not text.
    if (first && !piece.empty() && piece.front() == 0xFEFF) piece.remove_prefix(1);
    first = false;
    encode_units(std::wstring(piece), kLocalPage, false, text);
  });
  return text;
}

}  // namespace sharelink::codec
