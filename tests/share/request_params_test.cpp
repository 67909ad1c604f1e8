#include "share/request_params.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>

#include "text/text_encoding.h"

namespace sharelink {
namespace {

bool all_digits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::int64_t now_millis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(Timestamp, MillisecondsAlwaysThreeDigits) {
  EXPECT_EQ(timestamp_text_at(1480208703005), "1480208703005");
  EXPECT_EQ(timestamp_text_at(1480208703000), "1480208703000");
  EXPECT_EQ(timestamp_text_at(1480208703045), "1480208703045");
  EXPECT_EQ(timestamp_text_at(1480208703999, true), "1480208703");
}

TEST(Timestamp, IsTheUnixTimeInAnyTimeZone) {
  // The time stamp must not depend on the zone the machine runs in.
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz ? old_tz : "";
  for (const char* zone : {"UTC0", "CST-8", "EST5EDT", "NZST-12"}) {
    setenv("TZ", zone, 1);
    tzset();
    const std::int64_t before = now_millis();
    const std::string text = timestamp_text();
    const std::int64_t after = now_millis();
    ASSERT_EQ(text.size(), 13u) << zone;
    ASSERT_TRUE(all_digits(text)) << zone;
    const std::int64_t value = std::stoll(text);
    EXPECT_LE(before, value) << zone;
    EXPECT_LE(value, after) << zone;
    EXPECT_EQ(timestamp_text(true).size(), 10u);
  }
  if (old_tz) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(RandomDigits, CountAndAlphabet) {
  EXPECT_EQ(random_digits().size(), 19u);
  EXPECT_EQ(random_digits(0).size(), 19u);
  std::set<std::string> seen;
  bool leading_zero = false;
  for (int i = 0; i < 200; ++i) {
    const std::string digits = random_digits(16);
    ASSERT_EQ(digits.size(), 16u);
    ASSERT_TRUE(all_digits(digits));
    leading_zero = leading_zero || digits[0] == '0';
    seen.insert(digits);
  }
  // Two calls within one clock tick still differ.
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_TRUE(leading_zero);
}

TEST(Base64, Rfc4648Vectors) {
  EXPECT_EQ(base64_encode(""), "");
  EXPECT_EQ(base64_encode("f"), "Zg==");
  EXPECT_EQ(base64_encode("fo"), "Zm8=");
  EXPECT_EQ(base64_encode("foo"), "Zm9v");
  EXPECT_EQ(base64_encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64_encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64_encode(std::string("\xFB\xFF\x00", 3)), "+/8A");
}

TEST(Logid, IsBase64OfTimestampDotDigits) {
  const std::string logid = make_logid();
  EXPECT_EQ(logid.size(), 44u);
  EXPECT_EQ(logid.find('='), std::string::npos);
  // The first 12 characters encode the first 9 digits of the time stamp.
  EXPECT_EQ(logid.substr(0, 12), base64_encode(timestamp_text().substr(0, 9)));
}

TEST(StripSlashes, RemovesOnlyTheChosenSlash) {
  EXPECT_EQ(strip_slashes("http:\\/\\/a.b\\/c"), "http://a.b/c");
  EXPECT_EQ(strip_slashes("a/b\\c", true), "ab\\c");
  EXPECT_EQ(strip_slashes("plain"), "plain");
}

TEST(TextBetween, MarkersAndPlaceholder) {
  const std::string reply = "{\"errno\":0,\"dlink\":\"http://x/y\",\"z\":1}";
  EXPECT_EQ(text_between(reply, "dlink#引号:#引号", "#引号"), "http://x/y");
  EXPECT_EQ(text_between(reply, "dlink\":\"", "\""), "http://x/y");
  EXPECT_EQ(text_between("abc", "a", "c"), "b");
  EXPECT_EQ(text_between("ac", "a", "c"), "");
  EXPECT_EQ(text_between("abc", "a", "x"), "");  // not the rest of the text
  EXPECT_EQ(text_between("abc", "x", "c"), "");
  EXPECT_EQ(text_between("a1a2b", "a", "b", 2), "2");
  EXPECT_EQ(text_between("XaY", "x", "y", 0, true), "a");
}

TEST(TextBetween, NeverMatchesInsideADoubleByteCharacter) {
  // 亍 is D8 A1 and 〈 is A1 B4: the bytes A1 B4 also appear across 亍 and 村 (B4 E5).
  const std::string text = "亍村〈x〉";
  EXPECT_EQ(text_between(text, "〈", "〉"), "x");
  // F1 40 holds "@" as its trail byte: the marker must not start inside it.
  EXPECT_EQ(text_between("\xF1\x40"
                         "1@2@",
                         "@", "@"),
            "2");
}

TEST(PercentDecode, EscapesAndMalformedPercents) {
  EXPECT_EQ(percent_decode("%2Fabc%20d+e"), "/abc d+e");
  EXPECT_EQ(percent_decode("%2f"), "/");
  EXPECT_EQ(percent_decode("100%"), "100%");
  EXPECT_EQ(percent_decode("%4"), "%4");
  EXPECT_EQ(percent_decode("%zz%41"), "%zzA");
  EXPECT_EQ(percent_decode("%"), "%");
  EXPECT_EQ(percent_decode("%E4%B8%AD", true), "中");
  EXPECT_EQ(percent_decode("%2F%E6%96%87%E4%BB%B6%20a", true), "/文件 a");
  // A zero byte does not end the local text: U+FFFD (84 31 A4 37) takes its place.
  EXPECT_EQ(percent_decode("/a%00b", true),
            "/a\x84\x31\xA4\x37"
            "b");
}

}  // namespace
}  // namespace sharelink
