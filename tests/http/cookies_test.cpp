#include "http/cookies.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "test_server.h"
#include "text/local_text.h"
#include "trace_capture.h"
#include "transport_traits.h"

namespace sharelink {
namespace {

std::string merged(std::string cookies, std::string received) {
  return merge_cookies(cookies, received);
}

TEST(MergeCookies, ReceivedFirstThenHeldItemsNotReceived) {
  EXPECT_EQ(merged("A=1; B=2", "B=3; C=4"), "B=3; C=4; A=1");
  EXPECT_EQ(merged("", "X=1"), "X=1");
  EXPECT_EQ(merged("X=1", ""), "X=1");
  EXPECT_EQ(merged("", ""), "");
}

TEST(MergeCookies, DeletedItemsRemoveTheHeldOneAndVanish) {
  EXPECT_EQ(merged("A=1; B=2", "B=deleted"), "A=1");
  EXPECT_EQ(merged("A=1; B=2", "B=DELETED"), "B=DELETED; A=1");
  EXPECT_EQ(merged("B=deleted", ""), "");
}

TEST(MergeCookies, SpacesVanishEverywhere) {
  EXPECT_EQ(merged("A=1;B=2", ""), "A=1; B=2");
  EXPECT_EQ(merged("A=x y", ""), "A=xy");
  EXPECT_EQ(merged("A=x\xA1\xA1y", ""), "A=xy");  // full-width space
}

// One bad item must not spoil the session: it would make every later header
// block invalid.
TEST(MergeCookies, ItemsWithLineBreaksOrZerosAreNotKept) {
  EXPECT_EQ(merged("A=1", "A=b\rX:1; C=3"), "C=3; A=1");
  EXPECT_EQ(merged("A=1; B=\n; C=3", ""), "A=1; C=3");
  EXPECT_EQ(merged("", std::string("A=\0; B=2\r", 9)), "");
  EXPECT_EQ(merged("A=\t1", "B=2"), "B=2; A=\t1");
}

TEST(MergeCookies, DuplicateNames) {
  EXPECT_EQ(merged("A=1; A=2", ""), "A=1");
  EXPECT_EQ(merged("", "A=1; A=2"), "A=1; A=2");
  EXPECT_EQ(merged("", "A=1; A=1"), "A=1");
}

TEST(MergeCookies, RewritesBothArguments) {
  std::string cookies = "A=1; B=2";
  std::string received = "C=3; D=4";
  const std::string result = merge_cookies(cookies, received);
  EXPECT_EQ(result, cookies);
  EXPECT_EQ(cookies, "C=3; D=4; A=1; B=2");
  EXPECT_EQ(received, "C=3;D=4");
}

// n items "<prefix><i>=<value>" joined by "; ".
std::string cookie_items(const std::string& prefix, int n, const std::string& value = "v") {
  std::string text;
  for (int i = 0; i < n; ++i)
    text += (i == 0 ? "" : "; ") + prefix + std::to_string(i) + "=" + value;
  return text;
}

std::vector<std::string> items_of(const std::string& cookies) {
  return split_text(cookies, "; ");
}

TEST(MergeCookies, TheJarIsBoundedAndTheOldestGoFirst) {
  const std::string kilobyte(1000, 'k');
  struct Case {
    const char* name;
    std::string held;
    std::string received;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"received beyond the count", "", cookie_items("r", 400), cookie_items("r", 300)},
      // Received items lead, so the held ones set longest ago drop out.
      {"held push out", cookie_items("h", 300), cookie_items("r", 50),
       cookie_items("r", 50) + "; " + cookie_items("h", 250)},
      // 60 received and 5 held items of about 1000 bytes fit 64 KiB, a sixth
      // held one does not.
      {"text beyond 64 KiB", cookie_items("b", 10, kilobyte), cookie_items("a", 60, kilobyte),
       cookie_items("a", 60, kilobyte) + "; " + cookie_items("b", 5, kilobyte)},
      {"an item alone too long", "A=1", "X=" + std::string(64 << 10, 'x') + "; B=2", "B=2; A=1"},
      // A replaced value is the received one, ahead of the held items.
      {"within the bounds", cookie_items("h", 299), "h7=new; n=1",
       "h7=new; n=1; " + replace_all(cookie_items("h", 299), "h7=v; ", "")},
  };
  for (const Case& c : cases) {
    const std::string result = merged(c.held, c.received);
    EXPECT_LE(items_of(result).size(), kCookieJarMaxItems) << c.name;
    EXPECT_LE(result.size(), kCookieJarMaxText) << c.name;
    EXPECT_EQ(result, c.expected) << c.name;
  }
}

TEST(MergeCookies, ThousandsOfCookiesInEveryReplyStayBounded) {
  std::string cookies = "SID=1";
  for (int round = 0; round < 50; ++round) {
    std::string received = cookie_items("r" + std::to_string(round) + "_", 5000);
    merge_cookies(cookies, received);
    ASSERT_EQ(items_of(cookies).size(), kCookieJarMaxItems) << round;
    ASSERT_LE(cookies.size(), kCookieJarMaxText) << round;
  }
  EXPECT_EQ(cookies, cookie_items("r49_", 300));
}

// The merge as first written, item by item: the linear one must give the same
// text for any input within the bounds.
std::string merged_item_by_item(std::string cookies, std::string received) {
  cookies = remove_spaces(cookies);
  received = remove_spaces(received);
  std::vector<std::string> merged = split_text(received, ";");
  for (const std::string& held : split_text(cookies, ";")) {
    if (!has_cookie_named(merged, cookie_name(held))) merged.push_back(held);
  }
  std::string text;
  for (const std::string& item : merged) {
    if (item.size() < 8 || item.compare(item.size() - 8, 8, "=deleted") != 0) text += item + "; ";
  }
  if (text.size() >= 2) text.resize(text.size() - 2);
  std::string result;
  std::vector<std::string> kept;
  for (const std::string& part : split_text(text, "; ")) {
    if (item_position(kept, part) != -1) continue;
    kept.push_back(part);
    result += part + "; ";
  }
  if (result.size() >= 2) result.resize(result.size() - 2);
  return result;
}

TEST(MergeCookies, SameTextAsTheItemByItemMerge) {
  const std::vector<std::string> pieces = {"A", "B", "=",        "1",       "; ",
                                           ";", " ", "=deleted", "\xA1\xA1"};
  std::uint32_t state = 12345;
  auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 16; };
  auto text = [&] {
    std::string t;
    for (std::uint32_t n = next() % 10; n > 0; --n)
      t += pieces[next() % pieces.size()];
    return t;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string held = text();
    std::string received = text();
    ASSERT_EQ(merged(held, received), merged_item_by_item(held, received))
        << "held \"" << held << "\" received \"" << received << "\"";
  }
}

TEST(CookieHelpers, NamesPositionsAndDuplicates) {
  EXPECT_EQ(cookie_name(" BDCLND =a=b"), "BDCLND");
  EXPECT_EQ(cookie_name("flag"), "flag");
  EXPECT_TRUE(has_cookie_named({"a=1", "B=2"}, "B"));
  EXPECT_FALSE(has_cookie_named({"a=1", "B=2"}, "b"));
  EXPECT_EQ(item_position({"x", "y", "y"}, "y"), 2);
  EXPECT_EQ(item_position({"x"}, "z"), -1);
  EXPECT_EQ(remove_duplicates("a; b; a; c; b", "; "), "a; b; c");
  EXPECT_EQ(remove_duplicates("", "; "), "");
}

// A cookie the server sets comes back in the Cookie line, and a Referer goes
// out, with their bytes as they were: local text is GB18030, and a server's
// cookie is whatever bytes it sent. Bytes the transport cannot pass must not
// go out altered: the request fails with 710 and names the line.
TEST(HeaderBytes, CookiesAndRefererPassExactlyOrNotAtAll) {
#ifdef _WIN32
  if (const char* asked = std::getenv("SHARELINK_TEST_ANSI_CODE_PAGE")) {
    ASSERT_EQ(std::to_string(GetACP()), asked) << "is the locale SHARELINK_WINE_LOCALE generated?";
  }
#endif
  struct Case {
    const char* name;
    std::string bytes;
    bool gbk, utf8;  // code page 936 holds them; they are UTF-8
  };
  for (const Case& c : std::vector<Case>{{"GBK Chinese", "\xD6\xD0\xCE\xC4", true, false},
                                         {"four-byte GB18030, lone lead byte, 0x80, 0xFF",
                                          "x\x95\x32\x82\x36y\x81!\x80\xFF", false, false},
                                         {"UTF-8 Chinese", "\xE4\xB8\xAD\xE6\x96\x87", true, true},
                                         {"four-byte UTF-8", "\xF0\xA0\x80\x80", true, true}}) {
    test::KeepAliveServer server([&c](const std::string& request, int) {
      const bool set = test::first_line(request) == "GET /set HTTP/1.1";
      return test::KeepAliveServer::Answer{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n" +
                                           (set ? "Set-Cookie: V=" + c.bytes + "\r\n" : "") +
                                           "\r\n"};
    });
    HttpRequest request;
    request.url = server.server.url("/set");
    request.cookies = "";
    const HttpResponse set = http_request(request);
    ASSERT_EQ(set.failure, 0) << c.name;
    const bool received = test::header_bytes_pass(false, c.gbk, c.utf8);
    if (received) {
      EXPECT_EQ(set.cookies, "V=" + c.bytes) << c.name;
    }
    // A cookie that came back altered proves nothing about the way out.
    request.url = server.server.url("/back");
    request.cookies = received ? set.cookies : "V=" + c.bytes;
    request.headers = "Referer: http://127.0.0.1/s/" + c.bytes;
    test::TraceCapture trace;
    const HttpResponse back = http_request(request);
    const std::vector<std::string> requests = server.requests.all();
    if (test::header_bytes_pass(true, c.gbk, c.utf8)) {
      EXPECT_EQ(back.failure, 0) << c.name;
      ASSERT_EQ(requests.size(), 2u) << c.name;
      for (const std::string& line : {"\r\nCookie: V=" + c.bytes + "\r\n",
                                      "\r\nReferer: http://127.0.0.1/s/" + c.bytes + "\r\n"})
        EXPECT_NE(requests[1].find(line), std::string::npos) << c.name << ": " << line;
    } else {
      EXPECT_EQ(back.failure, 710) << c.name;
      EXPECT_EQ(requests.size(), 1u) << c.name;
      ASSERT_EQ(trace.records().size(), 1u) << c.name;
      EXPECT_NE(trace.records()[0].reason.find("Referer"), std::string::npos) << c.name;
    }
  }
}

}  // namespace
}  // namespace sharelink
