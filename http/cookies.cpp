#include "http/cookies.h"

#include "http/local_text.h"

namespace sharelink {

namespace {

const std::string kDeletedMark = "=deleted";

bool is_deleted(const std::string& item) {
  return item.size() >= kDeletedMark.size() &&
         item.compare(item.size() - kDeletedMark.size(), kDeletedMark.size(), kDeletedMark) == 0;
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
  std::vector<std::string> kept;
  std::string result;
  for (const std::string& part : split_text(text, separator)) {
    if (item_position(kept, part) != -1) continue;
    kept.push_back(part);
    result += part;
    result += separator;
  }
  if (result.size() >= separator.size()) result.resize(result.size() - separator.size());
  return result;
}

std::string merge_cookies(std::string& cookies, std::string& received) {
  cookies = remove_spaces(cookies);
  received = remove_spaces(received);

  std::vector<std::string> merged = split_text(received, ";");
  // Looks at the list as it grows: of two held items with one name only the first
  // is carried over.
  for (const std::string& held : split_text(cookies, ";")) {
    if (!has_cookie_named(merged, cookie_name(held))) merged.push_back(held);
  }

  cookies.clear();
  for (const std::string& item : merged) {
    if (is_deleted(item)) continue;
    cookies += item;
    cookies += "; ";
  }
  if (cookies.size() >= 2) cookies.resize(cookies.size() - 2);
  cookies = remove_duplicates(cookies, "; ");
  return cookies;
}

}  // namespace sharelink
