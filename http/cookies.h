#pragma once

// The session's cookie text: name=value items separated by "; ".

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace sharelink {

// Bounds of the merged cookie text, so that a server cannot grow the session's
// Cookie line without end: at most this many items and this many bytes of text.
constexpr std::size_t kCookieJarMaxItems = 300;
constexpr std::size_t kCookieJarMaxText = std::size_t{64} << 10;

// Folds received cookies into cookies: received items first, in their order, then
// held items whose names were not received; items ending in "=deleted" drop out;
// every space disappears. Past the bounds above the items at the end, the ones
// set longest ago, drop out. Both arguments are rewritten; returns the new
// cookies. Linear in the length of both texts.
std::string merge_cookies(std::string& cookies, std::string& received);

// The text of an item before its first "=", trimmed of spaces.
std::string cookie_name(const std::string& item);

bool has_cookie_named(const std::vector<std::string>& items, const std::string& name);

// Keeps the first occurrence of every distinct part of text cut at separator.
std::string remove_duplicates(const std::string& text, const std::string& separator);

// 1-based position of the first element equal to text, -1 when none.
int item_position(const std::vector<std::string>& items, const std::string& text);

constexpr std::size_t kCookieJarMaxOrigins = 16;

// The cookies of a session that talks to more than one origin: a cookie text
// per origin (scheme, host, port), so that what one origin set never goes to
// another, as a browser keeps them.
class CookieJar {
 public:
  // The text kept for the origin of address: "" for an origin that set none
  // and for an address that names no http or https origin.
  std::string text_for(const std::string& address) const;
  // Replaces the text kept for the origin of address; nothing for an address
  // without one. Past kCookieJarMaxOrigins the origin stored longest ago goes.
  void store(const std::string& address, std::string text);
  void clear() { texts_.clear(); }

 private:
  std::vector<std::pair<std::string, std::string>> texts_;  // origin key, cookie text
};

}  // namespace sharelink
