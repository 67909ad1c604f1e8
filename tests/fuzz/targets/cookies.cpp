// merge_cookies: the session's cookie text folded with the cookies a response
// set, and the readers of the result. Input: the held cookie text, a zero byte,
// the received text.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz/fuzz_support.h"
#include "http/cookies.h"
#include "share/reply_text.h"
#include "text/local_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sharelink;
  const auto parts = fuzz::split_input(data, size, 2);
  std::string cookies = parts[0];
  std::string received = parts[1];

  const std::string merged = merge_cookies(cookies, received);
  FUZZ_CHECK(merged == cookies);
  // The jar never grows past its bounds, whatever a server sends.
  FUZZ_CHECK(merged.size() <= kCookieJarMaxText);
  const auto items = split_text(merged, "; ");
  FUZZ_CHECK(items.size() <= kCookieJarMaxItems);
  std::set<std::string> distinct;
  for (const std::string& item : items) {
    FUZZ_CHECK(find_local(item, " ") == std::string::npos);
    FUZZ_CHECK(item.size() < 8 || item.compare(item.size() - 8, 8, "=deleted") != 0);
    FUZZ_CHECK(distinct.insert(item).second);
  }

  cookie_value(merged, "BDCLND");
  cookie_value(parts[0], "BDCLND");
  remove_duplicates(parts[1], ";");
  return 0;
}
