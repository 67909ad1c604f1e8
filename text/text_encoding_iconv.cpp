#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <string>
#include <string_view>

#include "text/text_encoding_codec.h"

namespace sharelink::codec {

namespace {

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

// Bytes of the UTF-16LE unit at in: 4 for a surrogate pair, else 2 (1 for an odd
// last byte).
std::size_t wide_unit_length(const char* in, std::size_t left) {
  if (left < 2) return left;
  const auto high = [&](std::size_t at) { return static_cast<unsigned char>(in[at]) & 0xFC; };
  if (left >= 4 && high(1) == 0xD8 && high(3) == 0xDC) return 4;
  return 2;
}

// A conversion on a cached descriptor, starting from its initial state.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(cached_descriptor(to, from)) {
    if (ok()) iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  }

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of input. A byte sequence the source charset rejects is skipped
  // one source unit at a time (a byte, or for wide text a UTF-16 unit or a whole
  // surrogate pair) and stands as `replacement` (already in the target charset),
  // the way the platform converters put in a replacement character. Skipping
  // whole units keeps wide text aligned after a character the target lacks.
  std::string run(std::string_view input, const std::string& replacement,
                  bool wide_source = false) {
    std::string out;
    out.reserve(input.size() + 16);
    run_pieces(input, replacement, wide_source,
               [&out](std::string_view piece) { out.append(piece.data(), piece.size()); });
    return out;
  }

  // The same, handing the output to sink in pieces of whole characters, so
  // that a long text need not be held in full between two conversions. iconv
  // sees the input a window at a time: a sanitizer checks the whole input it
  // is given on every call.
  template <typename Sink>
  void run_pieces(std::string_view input, const std::string& replacement, bool wide_source,
                  Sink sink) {
    constexpr std::size_t kPiece = std::size_t{64} << 10;
    constexpr std::size_t kWindow = std::size_t{256} << 10;
    std::string out(kPiece, '\0');
    std::size_t used = 0;
    const auto flush = [&] {
      if (used > 0) sink(std::string_view(out.data(), used));
      used = 0;
    };
    char* in = const_cast<char*>(input.data());
    char* const end = in + input.size();
    // False at bytes that do not convert (errno tells how).
    const auto convert = [&](char** source, std::size_t* source_left) {
      for (;;) {
        char* dst = &out[used];
        std::size_t dst_left = out.size() - used;
        const std::size_t rc = iconv(cd_, source, source_left, &dst, &dst_left);
        used = static_cast<std::size_t>(dst - out.data());
        if (rc != static_cast<std::size_t>(-1)) return true;
        if (errno != E2BIG) return false;
        flush();
      }
    };
    while (in < end) {
      std::size_t window = std::min<std::size_t>(static_cast<std::size_t>(end - in), kWindow);
      const bool last = in + window == end;
      if (convert(&in, &window)) continue;
      // A character cut by the window's edge goes into the next window.
      if (errno == EINVAL && !last) continue;
      // EILSEQ: invalid or unconvertible; EINVAL: truncated at the end.
      if (out.size() - used < replacement.size()) flush();
      out.replace(used, replacement.size(), replacement);
      used += replacement.size();
      const std::size_t skip =
          wide_source ? wide_unit_length(in, static_cast<std::size_t>(end - in)) : 1;
      in += skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    convert(nullptr, nullptr);  // flush a stateful encoder
    flush();
  }

  // Appends the conversion of input to out when every byte of it converts; false,
  // with out unchanged, at the first byte that does not, so the caller can fall
  // back to run and its replacements.
  bool run_exact(std::string_view input, std::string& out) {
    const std::size_t before = out.size();
    out.resize(before + input.size() * 2 + 16);
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    char* dst = &out[before];
    std::size_t dst_left = out.size() - before;
    for (;;) {
      const std::size_t rc = iconv(cd_, &in, &in_left, &dst, &dst_left);
      const std::size_t used = static_cast<std::size_t>(dst - out.data());
      if (rc != static_cast<std::size_t>(-1)) {
        out.resize(used);
        return true;
      }
      if (errno != E2BIG) {
        out.resize(before);
        return false;
      }
      out.resize(out.size() * 2);
      dst = &out[used];
      dst_left = out.size() - used;
    }
  }

 private:
  iconv_t cd_;
};

const std::string kWideReplacement("\xFD\xFF", 2);  // U+FFFD in UTF-16LE

}  // namespace

std::optional<Bytes> to_wide(std::string_view text, const char* charset) {
  Converter c(kWide, charset);
  if (!c.ok()) return std::nullopt;
  return c.run(text, kWideReplacement);
}

std::optional<std::string> from_wide(std::string_view wide, const char* charset) {
  Converter c(charset, kWide);
  if (!c.ok()) return std::nullopt;
  return c.run(wide, "?", true);
}

bool append_exact(std::string_view input, const char* from, const char* to, std::string& out) {
  Converter c(to, from);
  return c.ok() && c.run_exact(input, out);
}

std::optional<std::string> recode_to_local(std::string_view body, const std::string& charset) {
  Converter decoder(kWide, charset.c_str());
  Converter encoder(kLocal, kWide);
  if (!decoder.ok() || !encoder.ok()) return std::nullopt;
  // Through wide text a piece at a time: a page of tens of megabytes is never
  // held as a whole in wide form.
  std::string text;
  text.reserve(body.size() + 16);
  bool first = true;
  decoder.run_pieces(body, kWideReplacement, false, [&](std::string_view wide) {
    // The byte-order mark is a signature, not text.
    if (first && wide.substr(0, 2) == std::string_view("\xFF\xFE", 2)) wide.remove_prefix(2);
    first = false;
    encoder.run_pieces(wide, "?", true,
                       [&](std::string_view local) { text.append(local.data(), local.size()); });
  });
  return text;
}

}  // namespace sharelink::codec
