#include "http/text_encoding.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>

namespace sharelink {

namespace {

constexpr const char* kLocalCharset = "GB18030";
constexpr const char* kWideCharset = "UTF-16LE";

// Opening a descriptor costs far more than converting a short text, and every
// field of every reply is converted: each thread keeps the descriptors it opened,
// a few at most, and closes them when it ends.
iconv_t cached_descriptor(const char* to, const char* from) {
  struct Entry {
    std::string to;
    std::string from;
    iconv_t cd;
  };
  struct Cache {
    std::deque<Entry> entries;
    ~Cache() {
      for (const Entry& entry : entries)
        iconv_close(entry.cd);
    }
  };
  constexpr std::size_t kMostKept = 8;
  thread_local Cache cache;
  for (const Entry& entry : cache.entries) {
    if (entry.to == to && entry.from == from) return entry.cd;
  }
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
  if (cache.entries.size() == kMostKept) {
    iconv_close(cache.entries.front().cd);
    cache.entries.pop_front();
  }
  cache.entries.push_back(Entry{to, from, cd});
  return cd;
}

// A conversion on a cached descriptor, starting from its initial state.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(cached_descriptor(to, from)) {
    if (ok()) iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  }

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of input. A byte sequence the source charset rejects is skipped
  // one byte at a time and stands as `replacement` (already in the target charset),
  // the way the platform converters put in a replacement character. The output
  // buffer is sized for the whole text, so a long body takes one iconv call, not
  // one per buffer's worth.
  std::string run(const std::string& input, const std::string& replacement) {
    std::string out(input.size() * 2 + 16, '\0');
    std::size_t used = 0;
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    const auto room_for = [&](std::size_t bytes) {
      if (out.size() - used < bytes) out.resize(out.size() * 2 + bytes);
    };
    const auto convert = [&](char** source, std::size_t* source_left) {
      for (;;) {
        char* dst = &out[used];
        std::size_t dst_left = out.size() - used;
        const std::size_t rc = iconv(cd_, source, source_left, &dst, &dst_left);
        used = static_cast<std::size_t>(dst - out.data());
        if (rc != static_cast<std::size_t>(-1)) return true;
        if (errno != E2BIG) return false;
        room_for(out.size());
      }
    };
    while (in_left > 0) {
      if (convert(&in, &in_left)) break;
      // EILSEQ: invalid or unconvertible; EINVAL: truncated at the end.
      room_for(replacement.size());
      out.replace(used, replacement.size(), replacement);
      used += replacement.size();
      ++in;
      --in_left;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    convert(nullptr, nullptr);  // flush a stateful encoder
    out.resize(used);
    return out;
  }

 private:
  iconv_t cd_;
};

const std::string kWideReplacement("\xFD\xFF", 2);  // U+FFFD in UTF-16LE

// Decodes from charset into UTF-16LE without terminator; nullopt for an unknown charset.
std::optional<Bytes> to_wide(const std::string& text, const char* charset) {
  Converter c(kWideCharset, charset);
  if (!c.ok()) return std::nullopt;
  return c.run(text, kWideReplacement);
}

// Encodes UTF-16LE into charset; characters the charset lacks become '?'.
std::optional<std::string> from_wide(const Bytes& wide, const char* charset) {
  Converter c(charset, kWideCharset);
  if (!c.ok()) return std::nullopt;
  return c.run(wide, "?");
}

const char* charset_of_code_page(int code_page) {
  switch (code_page) {
    case kCodePageLocal:
    case kCodePageGbk:
    case 54936:
      return kLocalCharset;
    case kCodePageUtf8:
      return "UTF-8";
    case 950:
      return "BIG5";
    case 1200:
      return "UTF-16LE";
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

// Maps a declared charset name to an iconv name. Pages labelled gb2312 or gbk
// routinely hold characters from the wider GBK and GB18030 sets, so these labels
// decode as GB18030, as browsers do. Names with characters outside a charset
// name's alphabet are refused, so a page cannot pass iconv options such as
// "//IGNORE".
std::optional<std::string> iconv_name(const std::string& charset) {
  if (charset.empty() || charset.size() > 40) return std::nullopt;
  for (char c : charset) {
    bool ok =
        std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == ':';
    if (!ok) return std::nullopt;
  }
  std::string name = lower_ascii(charset);
  if (name == "gb2312" || name == "gbk" || name == "x-gbk" || name == "cp936" || name == "ms936" ||
      name == "windows-936" || name == "csgb2312" || name == "gb18030") {
    return std::string(kLocalCharset);
  }
  if (name == "utf8") return std::string("UTF-8");
  return name;
}

bool starts_with(const std::string& text, const char* prefix, std::size_t n) {
  return text.size() >= n && std::memcmp(text.data(), prefix, n) == 0;
}

}  // namespace

Bytes gbk_to_utf16(const std::string& text, bool drop_terminator) {
  if (text.empty()) return {};
  Bytes wide = to_wide(until_zero(text), kLocalCharset).value_or(Bytes{});
  if (!drop_terminator) wide += kZeroUnit;
  return wide;
}

std::string utf16_to_gbk(const Bytes& wide) {
  return until_zero(from_wide(wide_until_zero(wide), kLocalCharset).value_or(std::string{}));
}

Bytes decode_to_utf16(const std::string& text, int code_page) {
  const char* charset = charset_of_code_page(code_page);
  Bytes wide;
  if (charset != nullptr) wide = to_wide(until_zero(text), charset).value_or(Bytes{});
  return wide + kZeroUnit;
}

std::string encode_from_utf16(const Bytes& wide, int code_page) {
  const char* charset = charset_of_code_page(code_page);
  if (charset == nullptr) return {};
  return until_zero(from_wide(wide_until_zero(wide), charset).value_or(std::string{}));
}

namespace {

bool is_ascii(const std::string& text) {
  for (char c : text) {
    if (is_lead_byte(c)) return false;
  }
  return true;
}

}  // namespace

std::string utf8_to_gbk(const std::string& utf8) {
  // Both encodings keep ASCII as it is; most fields of a reply are ASCII.
  if (is_ascii(utf8)) return until_zero(utf8);
  return encode_from_utf16(decode_to_utf16(utf8, kCodePageUtf8), kCodePageGbk);
}

std::string gbk_to_utf8(const std::string& text) {
  if (is_ascii(text)) return until_zero(text);
  return encode_from_utf16(gbk_to_utf16(text, true), kCodePageUtf8);
}

std::optional<std::string> recode_by_charset(const Bytes& body, const std::string& charset) {
  std::optional<std::string> name = iconv_name(charset);
  if (!name) return std::nullopt;
  std::optional<Bytes> wide = to_wide(body, name->c_str());
  if (!wide) return std::nullopt;
  // The byte-order mark is a signature, not text.
  if (starts_with(*wide, "\xFF\xFE", 2)) wide->erase(0, 2);
  return from_wide(*wide, kLocalCharset);
}

}  // namespace sharelink
