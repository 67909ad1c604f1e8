#include <string>

#include <gtest/gtest.h>

#include "http/http_message.h"

namespace sharelink {
namespace {

const std::string kUserAgent =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n";
const std::string kRest =
    "Accept: text/html, application/xhtml+xml, */*\r\n"
    "Accept-Encoding: gbk, GB2312\r\n"
    "Accept-Language: zh-cn\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n"
    "Cache-Control: no-cache\r\n";

TEST(HeaderBlock, DefaultRowsInOrderAndCookieOnlyWithText) {
  EXPECT_EQ(build_header_block("", ""), kUserAgent + kRest);
  EXPECT_EQ(build_header_block("Referer: r", "A=1; B=2"),
            "Referer: r\r\n" + kUserAgent + kRest + "Cookie: A=1; B=2\r\n");
}

TEST(HeaderBlock, CallerLinesKeepRowsOutBySubstringAndLetterCase) {
  // Letter case is ignored for every row but Content-Type, and any line holding
  // the search text counts, also inside another header's name.
  EXPECT_EQ(build_header_block("user-agent: X", ""), "user-agent: X\r\n" + kRest);
  EXPECT_EQ(build_header_block("X-User-Agent: Y", ""), "X-User-Agent: Y\r\n" + kRest);
  std::string block = build_header_block("content-type: text/plain", "");
  EXPECT_NE(block.find("content-type: text/plain\r\n"), std::string::npos);
  EXPECT_NE(block.find("Content-Type: application/x-www-form-urlencoded"), std::string::npos);
  EXPECT_EQ(build_header_block("Content-Type: a/b", "").find("x-www-form"), std::string::npos);
  EXPECT_EQ(build_header_block("COOKIE: mine=1", "A=1").find("A=1"), std::string::npos);
}

TEST(HeaderBlock, MalformedLinesAreRefused) {
  EXPECT_TRUE(split_header_block("A: 1\r\n\r\nB:\r\n", false).valid);
  EXPECT_FALSE(split_header_block("no colon here\r\n", false).valid);
  EXPECT_FALSE(split_header_block("A: 1\rInjected: 2\r\n", false).valid);
  EXPECT_FALSE(split_header_block(": value\r\n", false).valid);
}

TEST(ResponseHeaders, StatusSetCookieSpellingsAndLastLocation) {
  EXPECT_EQ(status_from_headers("HTTP/1.1 200\r\n\r\n"), "200");
  EXPECT_EQ(status_from_headers("HTTP/1.1 200"), "");
  std::string headers =
      "HTTP/1.1 302 Found\r\nset-cookie: A=1; path=/\r\nSET-COOKIE: B=2\r\n"
      "Set-Cookie:\xA1\xA1 C=3 \xA1\xA1\r\nlocation: /first\r\nLocation: /second\r\n\r\n";
  std::string set_cookies;
  std::string location;
  read_header_lines(headers, set_cookies, location);
  EXPECT_EQ(set_cookies, "A=1; B=2; C=3");
  EXPECT_EQ(location, "/second");
  EXPECT_EQ(headers.find("set-cookie"), std::string::npos);
  EXPECT_EQ(headers.find("SET-COOKIE"), std::string::npos);
  EXPECT_NE(headers.find("Set-Cookie: B=2\r\n"), std::string::npos);
}

TEST(ResponseHeaders, ContentTypeCharset) {
  EXPECT_EQ(content_type_charset("HTTP/1.1 200 OK\r\ncontent-type: application/json; "
                                 "CharSet=\"UTF-8\"\r\n\r\n"),
            "UTF-8");
  EXPECT_EQ(content_type_charset("HTTP/1.1 200 OK\r\nX-Content-Type: a; charset=big5\r\n\r\n"), "");
}

}  // namespace
}  // namespace sharelink
