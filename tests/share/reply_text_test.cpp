#include "share/reply_text.h"

#include <gtest/gtest.h>

#include "share/request_params.h"
#include "text/text_encoding.h"

namespace sharelink {
namespace {

TEST(Origin, SchemeHostAndPort) {
  EXPECT_EQ(origin_of("http://127.0.0.1:8080/s/1abc?x=1"), "http://127.0.0.1:8080");
  EXPECT_EQ(origin_of("https://pan.example.com/s/1abc"), "https://pan.example.com");
  EXPECT_EQ(origin_of("http://host?q"), "http://host");
  EXPECT_EQ(origin_of("http://host"), "http://host");
  EXPECT_EQ(origin_of("host/s/1abc"), "");
  EXPECT_EQ(origin_of("复制链接"), "");
}

TEST(ResolveLocation, RelativeAndAbsoluteTargets) {
  const std::string base = "http://h:81/s/1abc?x=1";
  EXPECT_EQ(resolve_location(base, "http://other/p"), "http://other/p");
  EXPECT_EQ(resolve_location(base, "/share/init?shareid=1&uk=2"),
            "http://h:81/share/init?shareid=1&uk=2");
  EXPECT_EQ(resolve_location(base, "//cdn/p"), "http://cdn/p");
  EXPECT_EQ(resolve_location(base, "init?a=1"), "http://h:81/s/init?a=1");
  EXPECT_EQ(resolve_location(base, "?y=2"), "http://h:81/s/1abc?y=2");
  EXPECT_EQ(resolve_location("http://h", "x"), "http://h/x");
}

TEST(CutJsonObject, MatchesBracesOutsideStrings) {
  const std::string page =
      "<script>yunData.setData({\"a\":\"x);y\",\"b\":{\"c\":\"}\\\"{\"},\"d\":[1,{}]});"
      "other();</script>";
  EXPECT_EQ(cut_json_object(page, "yunData.setData("),
            "{\"a\":\"x);y\",\"b\":{\"c\":\"}\\\"{\"},\"d\":[1,{}]}");
  EXPECT_EQ(cut_json_object("yunData.setData( {\"a\":1});", "yunData.setData("), "{\"a\":1}");
  EXPECT_EQ(cut_json_object("yunData.setData({\"a\":1", "yunData.setData("), "");
  EXPECT_EQ(cut_json_object("no marker", "yunData.setData("), "");
  EXPECT_EQ(cut_json_object("yunData.setData(null);", "yunData.setData("), "");
  // 乗 is 81 7D in GB18030 (its trail byte is "}"), 亇 81 5C (trail "\").
  const std::string local = "yunData.setData({\"n\":\"\x81\x7D\x81\x5C\"});";
  EXPECT_EQ(cut_json_object(local, "yunData.setData("), "{\"n\":\"\x81\x7D\x81\x5C\"}");
}

TEST(JsonStringMember, DecodesEscapesOfLinks) {
  EXPECT_EQ(json_string_member("{\"dlink\":\"http:\\/\\/h\\/f?a=1\\u0026b=2\"}", "dlink"),
            "http://h/f?a=1&b=2");
  EXPECT_EQ(json_string_member("{\"x\":1, \"dlink\" : \"a\\\\b\\\"c\"}", "dlink"), "a\\b\"c");
  EXPECT_EQ(json_string_member("{\"n\":\"\\u4e2d\\ud83d\\ude00\"}", "n"),
            utf8_to_gbk(u8"中\U0001F600"));
  EXPECT_EQ(json_string_member("{\"n\":\"中\"}", "n"), "中");
  // Not a string, unterminated, or only inside another value.
  EXPECT_EQ(json_string_member("{\"dlink\":5}", "dlink"), "");
  EXPECT_EQ(json_string_member("{\"dlink\":\"abc", "dlink"), "");
  EXPECT_EQ(json_string_member("{\"m\":\"\\\"dlink\\\":\\\"x\\\"\"}", "dlink"), "");
  // The first member of that name decides.
  EXPECT_EQ(json_string_member("{\"list\":[{\"dlink\":\"1\"},{\"dlink\":\"2\"}]}", "dlink"), "1");
}

TEST(CookieValue, LastCookieAndNamesThatOnlyEndAlike) {
  EXPECT_EQ(cookie_value("BDCLND=abc%2B%3D", "BDCLND"), "abc%2B%3D");
  EXPECT_EQ(cookie_value("A=1; BDCLND=v; B=2", "BDCLND"), "v");
  EXPECT_EQ(cookie_value("XBDCLND=no; A=1", "BDCLND"), "");
  EXPECT_EQ(cookie_value("A=1;BDCLND=x=y", "BDCLND"), "x=y");
  EXPECT_EQ(cookie_value("", "BDCLND"), "");
}

TEST(PercentEncode, Utf8WithUnreservedKept) {
  EXPECT_EQ(percent_encode("aZ09-_.~"), "aZ09-_.~");
  EXPECT_EQ(percent_encode("a&b c#d+e/f%"), "a%26b%20c%23d%2Be%2Ff%25");
  EXPECT_EQ(percent_encode("中"), "%E4%B8%AD");
  EXPECT_EQ(percent_encode(""), "");
  EXPECT_EQ(percent_decode(percent_encode("/照片 & 视频 #1/a);b+"), true), "/照片 & 视频 #1/a);b+");
}

}  // namespace
}  // namespace sharelink
