#include "sim/wire_format.h"

#include <gtest/gtest.h>

namespace sharelink::sim {
namespace {

TEST(WireFormat, JsonEscapesLikeTheService) {
  nlohmann::ordered_json value = {{"path", "/a b/说明"}, {"emoji", "🌊"}, {"q", "a\"b\\c\n"}};
  EXPECT_EQ(encode_json(value, JsonStyle{}),
            R"({"path":"\/a b\/\u8bf4\u660e","emoji":"\ud83c\udf0a","q":"a\"b\\c\n"})");
  EXPECT_EQ(encode_json(value, JsonStyle{true, false}),
            "{\"path\":\"\\/a b\\/说明\",\"emoji\":\"🌊\",\"q\":\"a\\\"b\\\\c\\n\"}");
  EXPECT_EQ(encode_json({{"link", "a=1&b=2"}}, JsonStyle{false, true}),
            R"({"link":"a=1\u0026b=2"})");
}

TEST(WireFormat, JsonStaysValidForBrokenUtf8AndBigNumbers) {
  const std::string text = encode_json(
      {{"bad", std::string("a\xC3(b\xFF")}, {"id", std::uint64_t{18446744073709551615ull}}},
      JsonStyle{});
  EXPECT_EQ(text, R"({"bad":"a\ufffd(b\ufffd","id":18446744073709551615})");
  EXPECT_FALSE(nlohmann::json::parse(text, nullptr, false).is_discarded());
}

TEST(WireFormat, PercentEncodingIsStrict) {
  EXPECT_EQ(percent_encode("/我 a+b&~"), "%2F%E6%88%91%20a%2Bb%26~");
  EXPECT_TRUE(is_percent_encoded("%2Fab-_.~%e6"));
  EXPECT_TRUE(is_percent_encoded(""));
  for (const char* bad : {"a/b", "a+b", "a b", "%2", "%G1", "a%"}) {
    EXPECT_FALSE(is_percent_encoded(bad)) << bad;
  }
  std::string out;
  EXPECT_TRUE(percent_decode("a%2Bb+c%3d", out));
  EXPECT_EQ(out, "a+b+c=");
  EXPECT_TRUE(percent_decode("a%2Bb+c", out, true));
  EXPECT_EQ(out, "a+b c");
  EXPECT_FALSE(percent_decode("abc%4", out));
}

TEST(WireFormat, Base64RoundTripAndStrictDecoding) {
  for (const std::string text : {"", "a", "ab", "abc", "1700000000123.0123456789012345678"}) {
    std::string back;
    EXPECT_TRUE(base64_decode(base64_encode(text), back));
    EXPECT_EQ(back, text);
  }
  EXPECT_EQ(base64_encode("ab"), "YWI=");
  std::string out;
  for (const char* bad : {"YWI", "Y=WI", "YW I", "YWI=YWI="})
    EXPECT_FALSE(base64_decode(bad, out)) << bad;
}

}  // namespace
}  // namespace sharelink::sim
