// How replies read: local text in strings, what the parser refuses, numbers at
// the edges, repeated names, and reads that follow writes.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ostream>

#include "script/json_document.h"
#include "script/last_error.h"
#include "windows/local_text_support.h"

namespace sharelink {
namespace {

// U+FFFD, which stands for bytes that are no characters, as local text.
const std::string kReplacement = "\x84\x31\xA4\x37";

struct StringCase {
  const char* name;
  std::string text;         // a JSON array holding one string, as local text
  std::string plain;        // what get_text("[0]") gives
  std::string json;         // what get_text("[0]", true) gives
  bool beyond_gbk = false;  // holds characters GBK lacks or maps otherwise
};

// A case shows as its name, not as a dump of its bytes.
void PrintTo(const StringCase& row, std::ostream* out) {
  *out << row.name;
}

class StringRead : public ::testing::TestWithParam<StringCase> {};

TEST_P(StringRead, ReadsAsLocalText) {
  const StringCase& c = GetParam();
  if (c.beyond_gbk && testing::local_text_lacks_gb18030()) GTEST_SKIP() << testing::kLocalTextIsGbk;
  JsonDocument doc;
  ASSERT_TRUE(doc.parse(c.text));
  EXPECT_EQ(doc.get_text("[0]"), c.plain);
  EXPECT_EQ(doc.get_text("[0]", true), c.json);
  // The same value read through a written document.
  JsonDocument written;
  ASSERT_TRUE(written.set_root(doc.to_json(), true));
  EXPECT_EQ(written.get_text("[0]"), c.plain);
}

const StringCase kStringCases[] = {
    {"escaped", "[\"\\/a\\/\\u6587\\u4ef6 1.txt\"]", "/a/文件 1.txt", "\"/a/文件 1.txt\""},
    {"local", "[\"/我的资源/文件 1.txt\"]", "/我的资源/文件 1.txt", "\"/我的资源/文件 1.txt\""},
    // A trail byte may look like a backslash or a digit: it is still part of
    // its character, not an escape or the end of the string.
    {"trail_byte_backslash", "[\"\x81\x5C\"]", "\x81\x5C", "\"\x81\x5C\""},
    {"trail_byte_backslash_before_quote", "[\"a\x95\x5C\",\"b\"]", "a\x95\x5C", "\"a\x95\x5C\""},
    {"four_byte_character", "[\"\x81\x30\x81\x30!\"]", "\x81\x30\x81\x30!", "\"\x81\x30\x81\x30!\"",
     true},
    {"beyond_the_first_plane", "[\"\x95\x32\x82\x36\"]", "\x95\x32\x82\x36",
     "\"\x95\x32\x82\x36\""},
    {"escaped_surrogate_pair", "[\"\\ud83d\\ude00\"]", "\x94\x39\xFC\x36", "\"\x94\x39\xFC\x36\""},
    {"byte_that_is_no_character",
     "[\"a\xFF"
     "b\"]",
     "a" + kReplacement + "b", "\"a" + kReplacement + "b\""},
    {"lead_byte_before_quote", "[\"a\x81\"]", "a" + kReplacement, "\"a" + kReplacement + "\""},
    // U+E78D has no local form: it becomes "?" and the rest of the text stays.
    {"character_without_local_form", "[\"a\\ue78db\\u4e2dc\"]", "a?b中c", "\"a?b中c\"", true},
    // Plain text ends at a zero unit; the JSON form keeps it escaped.
    {"zero_unit", "[\"a\\u0000b\"]", "a", "\"a\\u0000b\""},
    {"escapes", "[\"\\\"\\\\\\b\\f\\n\\r\\t\\u0001\\u007f\"]", "\"\\\b\f\n\r\t\x01\x7f",
     "\"\\\"\\\\\\b\\f\\n\\r\\t\\u0001\x7f\""},
};

INSTANTIATE_TEST_SUITE_P(Json, StringRead, ::testing::ValuesIn(kStringCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JsonReadingTest, ParseRefusesWhatIsNotJson) {
  // Local characters outside strings, a UTF-8 byte-order mark in local text,
  // broken escapes and surrogates, raw control characters, numbers JSON does
  // not spell or a double cannot hold, and broken structure.
  const char* const refused[] = {"[1]\xA1\xA1",
                                 "[\xA1\xA1 1]",
                                 "[\"a\"\xD6\xD0]",
                                 "\xEF\xBB\xBF[1]",
                                 "[\"\\ud83d\"]",
                                 "[\"\\ude00\"]",
                                 "[\"\\ud83d\\u0041\"]",
                                 "[\"\\ud83dx\"]",
                                 "[\"\\u12\"]",
                                 "[\"\\x\"]",
                                 "[\"\x01\"]",
                                 "[\"a",
                                 "[1e400]",
                                 "[-1e400]",
                                 "[01]",
                                 "[1.]",
                                 "[.5]",
                                 "[-]",
                                 "[1e]",
                                 "[+1]",
                                 "[1,]",
                                 "[,1]",
                                 "{\"a\"}",
                                 "{\"a\":}",
                                 "{1:2}",
                                 "[tru]",
                                 "[nul]",
                                 "{} {}"};
  for (const std::string text : refused) {
    JsonDocument doc;
    clear_last_script_error();
    EXPECT_FALSE(doc.parse(text)) << text;
    EXPECT_EQ(last_script_error().code, ScriptError::parse_failed) << text;
  }
  // A byte-order mark may start the text.
  JsonDocument doc;
  EXPECT_TRUE(doc.parse("\x84\x31\x95\x33 [1]"));
  EXPECT_EQ(doc.to_json(), "[1]");
}

TEST(JsonReadingTest, NumbersAtTheEdges) {
  const struct {
    const char* text;
    const char* plain;
  } cases[] = {
      {"[1e-400]", "0"},
      {"[-0]", "0"},
      {"[9223372036854775807]", "9223372036854775807"},
      {"[9223372036854775808]", "9223372036854775808"},
      {"[18446744073709551616]", "18446744073709552000"},
      {"[-9223372036854775809]", "-9223372036854776000"},
      {"[1E2]", "100"},
      {"[0.1e-2]", "0.001"},
      {"[1.7976931348623157e308]", "1.7976931348623157e+308"},
  };
  for (const auto& c : cases) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(c.text)) << c.text;
    EXPECT_EQ(doc.get_text("[0]"), c.plain) << c.text;
    EXPECT_EQ(doc.get_text("[0]", true), c.plain) << c.text;
  }
}

TEST(JsonReadingTest, RepeatedNamesKeepTheFirstPlaceAndTheLastValue) {
  const struct {
    const char* text;
    const char* json;
  } cases[] = {
      {"{\"a\":1,\"b\":2,\"a\":{\"c\":3}}", "{\"a\":{\"c\":3},\"b\":2}"},
      {"[{\"x\":1,\"x\":[2]},{\"x\":3}]", "[{\"x\":[2]},{\"x\":3}]"},
      {"{\"o\":{\"a\":1,\"a\":2},\"a\":0}", "{\"o\":{\"a\":2},\"a\":0}"},
  };
  for (const auto& c : cases) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(c.text)) << c.text;
    EXPECT_EQ(doc.to_json(), c.json) << c.text;
  }
  JsonDocument doc;
  ASSERT_TRUE(doc.parse("{\"list\":[{\"a\":1},{\"a\":\"first\",\"b\":0,\"a\":\"last\"}]}"));
  EXPECT_EQ(doc.get_text("list[1].a"), "last");
  EXPECT_EQ(doc.count("list[1]"), 2);
}

TEST(JsonReadingTest, FieldsOfRecords) {
  JsonDocument doc;
  ASSERT_TRUE(doc.parse(
      "{\"list\":[{\"size\":12,\"path\":\"/\\u6587\",\"isdir\":0,\"fs_id\":18446744073709551615}],"
      "\"name\":\"abc\"}"));
  EXPECT_EQ(doc.get_texts("list[0]", {"size", "path", "isdir", "missing", "fs_id"}),
            (std::vector<std::string>{"12", "/文", "0", "", "18446744073709551615"}));
  EXPECT_EQ(doc.get_texts("list[0]", {"path"}, true), (std::vector<std::string>{"\"/文\""}));
  // A base that is a number, a length or nothing has no fields; a string has
  // its length.
  for (const char* base : {"list[0].size", "list.length", "list[1]", "nothing.x"}) {
    EXPECT_EQ(doc.get_texts(base, {"size", "length"}), (std::vector<std::string>{"", ""})) << base;
  }
  EXPECT_EQ(doc.get_texts("name", {"size", "length"}), (std::vector<std::string>{"", "3"}));
}

TEST(JsonReadingTest, ReadsFollowWrites) {
  JsonDocument doc;
  ASSERT_TRUE(doc.parse("{\"list\":[]}"));
  JsonDocument copy = doc;
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(doc.push(std::to_string(i), "list", true));
    ASSERT_EQ(copy.count("list"), i + 1);
    ASSERT_EQ(copy.get_text("list[" + std::to_string(i) + "]"), std::to_string(i));
  }
  EXPECT_TRUE(doc.set_member("list[0]", "中"));
  EXPECT_EQ(copy.get_text("list[0]"), "中");
  // A new parse drops what was written.
  ASSERT_TRUE(doc.parse("{\"list\":[7]}"));
  EXPECT_EQ(copy.to_json(), "{\"list\":[7]}");
  EXPECT_TRUE(doc.set_member_number("n", 1.5));
  EXPECT_EQ(doc.to_json(), "{\"list\":[7],\"n\":1.5}");
}

}  // namespace
}  // namespace sharelink
