#include "http/cookies.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <unordered_set>

#include "http/web_address.h"
#include "text/local_text.h"

namespace sharelink {

namespace {

const std::string kDeletedMark = "=deleted";

bool is_deleted(const std::string& item) {
  return item.size() >= kDeletedMark.size() &&
         item.compare(item.size() - kDeletedMark.size(), kDeletedMark.size(), kDeletedMark) == 0;
}

// Keeps the items from the front while the jar has room: they are the newest
// (received items lead the merge), so the oldest go first. An item too long for
// the whole jar is dropped on its own instead of emptying the jar.
std::string bounded(const std::string& cookies) {
  const std::string separator = "; ";
  std::size_t separators = 0;
  for (std::size_t at = cookies.find(separator); at != std::string::npos;
       at = cookies.find(separator, at + separator.size())) {
    ++separators;
  }
  if (cookies.size() <= kCookieJarMaxText && separators < kCookieJarMaxItems) return cookies;
  std::string kept;
  std::size_t count = 0;
  for (const std::string& item : split_text(cookies, separator)) {
    if (item.size() > kCookieJarMaxText) continue;
    std::size_t grown = kept.size() + (count == 0 ? 0 : separator.size()) + item.size();
    if (count == kCookieJarMaxItems || grown > kCookieJarMaxText) break;
    if (count++ != 0) kept += separator;
    kept += item;
  }
  return kept;
}

// A line break or a zero byte (a bare CR kept from a header line, say) would
// make every later request's header block invalid: such an item is not kept,
// received or held.
bool is_sendable(const std::string& item) {
  return item.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::vector<std::string> sendable_items(const std::string& text) {
  std::vector<std::string> items = split_text(text, ";");
  items.erase(std::remove_if(items.begin(), items.end(),
                             [](const std::string& item) { return !is_sendable(item); }),
              items.end());
  return items;
}

}  // namespace

std::string cookie_name(const std::string& item) {
  std::size_t eq = item.find('=');
  return trim_spaces(eq == std::string::npos ? item : item.substr(0, eq));
}

bool has_cookie_named(const std::vector<std::string>& items, const std::string& name) {
  for (const std::string& item : items) {
    if (cookie_name(item) == name) return true;
  }
  return false;
}

int item_position(const std::vector<std::string>& items, const std::string& text) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i] == text) return static_cast<int>(i) + 1;
  }
  return -1;
}

std::string remove_duplicates(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts = split_text(text, separator);
  std::unordered_set<std::string_view> kept;
  kept.reserve(parts.size());
  std::string result;
  result.reserve(text.size());
  for (const std::string& part : parts) {
    if (!kept.insert(part).second) continue;
    result += part;
    result += separator;
  }
  if (result.size() >= separator.size()) result.resize(result.size() - separator.size());
  return result;
}

std::string merge_cookies(std::string& cookies, std::string& received) {
  cookies = remove_spaces(cookies);
  received = remove_spaces(received);

  std::vector<std::string> merged = sendable_items(received);
  std::unordered_set<std::string> names;
  names.reserve(merged.size());
  for (const std::string& item : merged)
    names.insert(cookie_name(item));
  // Names carried over join the set: of two held items with one name only the
  // first is carried over.
  for (std::string& held : sendable_items(cookies)) {
    if (names.insert(cookie_name(held)).second) merged.push_back(std::move(held));
  }

  cookies.clear();
  for (const std::string& item : merged) {
    if (is_deleted(item)) continue;
    cookies += item;
    cookies += "; ";
  }
  if (cookies.size() >= 2) cookies.resize(cookies.size() - 2);
  cookies = bounded(remove_duplicates(cookies, "; "));
  return cookies;
}

std::string CookieJar::text_for(const std::string& address) const {
  const std::string key = origin_key(address);
  for (const auto& [origin, text] : texts_) {
    if (origin == key) return text;
  }
  return std::string();
}

void CookieJar::store(const std::string& address, std::string text) {
  std::string key = origin_key(address);
  if (key.empty()) return;
  auto kept = std::find_if(texts_.begin(), texts_.end(),
                           [&](const auto& entry) { return entry.first == key; });
  if (kept != texts_.end()) texts_.erase(kept);
  if (texts_.size() == kCookieJarMaxOrigins) texts_.erase(texts_.begin());
  texts_.emplace_back(std::move(key), std::move(text));
}

}  // namespace sharelink
