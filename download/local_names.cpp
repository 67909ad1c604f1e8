#include "download/local_names.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "download/disk_file.h"
#include "download/manifest.h"

namespace sharelink {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::size_t kExtensionLimit = 32;
constexpr std::size_t kPartSuffixUnits = 5;  // ".part"

// The character at pos and its length in bytes; a byte that does not start a
// well-formed sequence (overlong, surrogate, past U+10FFFF, cut short) is
// U+FFFD of length one, so the next byte is read afresh.
char32_t next_char(const std::string& text, std::size_t pos, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  length = 1;
  if (lead < 0x80) return lead;
  std::size_t count = 0;
  char32_t value = 0;
  char32_t least = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    count = 1, value = lead & 0x1f, least = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    count = 2, value = lead & 0x0f, least = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    count = 3, value = lead & 0x07, least = 0x10000;
  } else {
    return kReplacement;
  }
  if (text.size() - pos <= count) return kReplacement;
  for (std::size_t i = 1; i <= count; ++i) {
    if ((byte(pos + i) & 0xc0) != 0x80) return kReplacement;
    value = (value << 6) | (byte(pos + i) & 0x3f);
  }
  if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) {
    return kReplacement;
  }
  length = count + 1;
  return value;
}

std::u32string decode(const std::string& utf8) {
  std::u32string chars;
  for (std::size_t pos = 0, length = 0; pos < utf8.size(); pos += length) {
    chars += next_char(utf8, pos, length);
  }
  return chars;
}

void append_utf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
  }
  out += static_cast<char>(0x80 | (c & 0x3f));
}

std::string encode(const std::u32string& chars) {
  std::string out;
  for (char32_t c : chars)
    append_utf8(c, out);
  return out;
}

std::size_t units(char32_t c, NameRules rules) {
  if (rules == NameRules::windows) return c >= 0x10000 ? 2 : 1;
  return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

std::size_t units(const std::u32string& chars, NameRules rules) {
  std::size_t total = 0;
  for (char32_t c : chars)
    total += units(c, rules);
  return total;
}

bool is_forbidden(char32_t c) {
  if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) return true;
  if (c == 0x2028 || c == 0x2029) return true;                                    // line breaks
  if ((c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069)) return true;  // direction
  return std::u32string_view(U"/\\<>:\"|?*").find(c) != std::u32string_view::npos;
}

void trim_end(std::u32string& chars) {
  while (!chars.empty() && (chars.back() == U'.' || chars.back() == U' '))
    chars.pop_back();
}

char32_t ascii_upper(char32_t c) {
  return c >= U'a' && c <= U'z' ? c - 32 : c;
}

// Where the "_" of a device name goes (the end of its stem), or npos.
std::size_t device_stem_end(const std::u32string& chars) {
  const std::size_t dot = chars.find(U'.');
  std::size_t end = dot == std::u32string::npos ? chars.size() : dot;
  std::size_t stem_end = end;
  while (end > 0 && chars[end - 1] == U' ')
    --end;  // "CON .txt" opens the console too
  std::u32string stem;
  for (std::size_t i = 0; i < end; ++i)
    stem += ascii_upper(chars[i]);
  static const std::u32string kNames[] = {U"CON", U"PRN", U"AUX", U"NUL", U"CONIN$", U"CONOUT$"};
  for (const auto& name : kNames) {
    if (stem == name) return stem_end;
  }
  if (stem.size() != 4 || (stem.compare(0, 3, U"COM") != 0 && stem.compare(0, 3, U"LPT") != 0)) {
    return std::u32string::npos;
  }
  const char32_t digit = stem[3];
  const bool numbered = (digit >= U'0' && digit <= U'9') || digit == 0xb9 || digit == 0xb2 ||
                        digit == 0xb3;  // superscript one, two, three
  return numbered ? stem_end : std::u32string::npos;
}

std::size_t extension_start(const std::u32string& chars) {
  const std::size_t dot = chars.rfind(U'.');
  if (dot == std::u32string::npos || dot == 0) return std::u32string::npos;
  // Counted in UTF-16 units, the smaller count, so both systems keep the same one.
  const auto fits = [&chars](std::size_t start) {
    return units(chars.substr(start), NameRules::windows) <= kExtensionLimit;
  };
  static const std::u32string kTar = U".TAR";
  if (dot > kTar.size()) {
    std::u32string before;
    for (std::size_t i = dot - kTar.size(); i < dot; ++i)
      before += ascii_upper(chars[i]);
    if (before == kTar && fits(dot - kTar.size())) return dot - kTar.size();
  }
  return fits(dot) ? dot : std::u32string::npos;
}

// The first characters of chars that fit in limit units.
std::u32string head(const std::u32string& chars, std::size_t limit, NameRules rules) {
  std::size_t used = 0, count = 0;
  while (count < chars.size() && used + units(chars[count], rules) <= limit) {
    used += units(chars[count++], rules);
  }
  return chars.substr(0, count);
}

void cut_to(std::u32string& chars, std::size_t limit, NameRules rules) {
  if (units(chars, rules) <= limit) return;
  const std::size_t start = extension_start(chars);
  if (start == std::u32string::npos) {
    chars = head(chars, limit, rules);
    return;
  }
  const std::u32string extension = chars.substr(start);
  chars = head(chars.substr(0, start), limit - units(extension, rules), rules) + extension;
}

// The replacements, trims and device marks of safe_component, without the cut.
std::u32string cleaned(const std::string& utf8_name) {
  std::u32string chars = decode(utf8_name);
  for (char32_t& c : chars) {
    if (is_forbidden(c)) c = U'_';
  }
  trim_end(chars);
  if (chars.empty()) return U"_";
  const std::size_t stem_end = device_stem_end(chars);
  if (stem_end != std::u32string::npos) chars.insert(stem_end, 1, U'_');
  return chars;
}

// One character folded as the Windows name comparison folds it (its simple
// upper-case table), to lower case here: the pairs of the scripts a share
// names files in.
char32_t fold(char32_t c) {
  const auto in = [c](char32_t first, char32_t last) { return c >= first && c <= last; };
  const auto pair_even = [c]() { return (c % 2 == 0) ? c + 1 : c; };
  const auto pair_odd = [c]() { return (c % 2 == 1) ? c + 1 : c; };
  if (in(U'A', U'Z') || (in(0xc0, 0xde) && c != 0xd7)) return c + 32;
  if (c == 0x178) return 0xff;
  if (in(0x100, 0x137) && c != 0x130) return pair_even();
  if (in(0x139, 0x148) || in(0x179, 0x17e)) return pair_odd();
  if (in(0x14a, 0x177)) return pair_even();
  if (in(0x391, 0x3ab) && c != 0x3a2) return c + 32;
  if (c == 0x386) return 0x3ac;
  if (in(0x388, 0x38a)) return c + 37;
  if (c == 0x38c) return 0x3cc;
  if (in(0x38e, 0x38f)) return c + 63;
  if (in(0x400, 0x40f)) return c + 80;
  if (in(0x410, 0x42f)) return c + 32;
  if (in(0x460, 0x481) || in(0x48a, 0x4bf) || in(0x4d0, 0x52f)) return pair_even();
  if (in(0x531, 0x556)) return c + 48;
  if (in(0x1e00, 0x1e95) || in(0x1ea0, 0x1eff)) return pair_even();
  if (in(0xff21, 0xff3a)) return c + 32;
  return c;
}

std::vector<std::string> components(const std::string& relative) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t slash; (slash = relative.find('/', start)) != std::string::npos;) {
    parts.push_back(relative.substr(start, slash - start));
    start = slash + 1;
  }
  parts.push_back(relative.substr(start));
  return parts;
}

std::string joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

}  // namespace

NameRules native_name_rules() {
#ifdef _WIN32
  return NameRules::windows;
#else
  return NameRules::posix;
#endif
}

std::string safe_component(const std::string& utf8_name, NameRules rules) {
  std::u32string chars = cleaned(utf8_name);
  cut_to(chars, kComponentLimit - kNameRoom, rules);
  trim_end(chars);  // a cut without an extension may end in one
  return chars.empty() ? "_" : encode(chars);
}

std::string numbered_name(const std::string& name, int n) {
  const std::u32string chars = decode(name);
  const std::u32string mark = U" (" + decode(std::to_string(n)) + U")";
  const std::size_t start = extension_start(chars);
  if (start == std::u32string::npos) return encode(chars + mark);
  return encode(chars.substr(0, start) + mark + chars.substr(start));
}

bool is_safe_relative_path(const std::string& relative, NameRules rules) {
  const std::size_t limit = kComponentLimit - kPartSuffixUnits;
  for (const std::string& part : components(relative)) {
    const std::u32string chars = decode(part);
    if (part.empty() || encode(chars) != part || cleaned(part) != chars) return false;
    if (units(chars, rules) > limit) return false;
  }
  return true;
}

std::string name_key(const std::string& relative, NameRules rules) {
  if (rules == NameRules::posix) return relative;
  std::u32string chars = decode(relative);
  for (char32_t& c : chars)
    c = fold(c);
  return encode(chars);
}

LocalNames::LocalNames(NameRules rules) : rules_(rules) {
  // The record and the text write_manifest makes beside it before its rename.
  take_file(kManifestName);
  take_file(std::string(kManifestName) + kAtomicWriteSuffix);
}

bool LocalNames::file_free(const std::string& relative) const {
  for (const std::string& name : {relative, relative + ".part"}) {
    const std::string k = key(name);
    if (files_.count(k) != 0 || folder_owners_.count(k) != 0) return false;
  }
  return true;
}

void LocalNames::take_file(const std::string& relative) {
  files_.insert(key(relative));
  files_.insert(key(relative + ".part"));
}

void LocalNames::take_folders_of(const std::string& relative) {
  for (std::size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    folder_owners_.emplace(key(relative.substr(0, slash)), nullptr);
  }
}

void LocalNames::reserve(const std::string& relative_path) {
  take_folders_of(relative_path);
  take_file(relative_path);
}

std::string LocalNames::local_folder(const ShareFolder& folder, const std::string& parent) {
  const auto known = folders_.find(folder);
  if (known != folders_.end()) return known->second;
  const std::string name = safe_component(folder.back(), rules_);
  for (int n = 0;; ++n) {
    const std::string local = joined(parent, n == 0 ? name : name + " (" + std::to_string(n) + ")");
    const std::string k = key(local);
    if (files_.count(k) != 0) continue;
    const auto owner = folder_owners_.find(k);
    if (owner != folder_owners_.end() && owner->second != nullptr) continue;
    const auto added = folders_.emplace(folder, local).first;
    folder_owners_[k] = &added->first;
    return local;
  }
}

std::string LocalNames::assign(const std::vector<std::string>& path,
                               const std::function<bool(const std::string& relative)>& occupied) {
  std::string folder;
  ShareFolder share_folder;
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    share_folder.push_back(path[i]);
    folder = local_folder(share_folder, folder);
  }
  const std::string name = safe_component(path.empty() ? std::string() : path.back(), rules_);
  const std::string plain = joined(folder, name);
  // Numbers already given for this name are taken: start after the last one.
  const std::string plain_key = key(plain);
  const auto last = last_number_.find(plain_key);
  for (int n = last == last_number_.end() ? 0 : last->second + 1;; ++n) {
    const std::string local = n == 0 ? plain : joined(folder, numbered_name(name, n));
    if (!file_free(local) || (occupied && occupied(local))) continue;
    if (n > 0) last_number_[plain_key] = n;  // only names that met a clash
    take_file(local);
    return local;
  }
}

}  // namespace sharelink
