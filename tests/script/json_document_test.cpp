#include "script/json_document.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "script/json_text.h"
#include "script/last_error.h"
#include "text/text_encoding.h"

namespace sharelink {
namespace {

std::string nested_arrays(int depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

std::string nested_objects(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i)
    text += "{\"a\":";
  return text + "1" + std::string(depth, '}');
}

JsonDocument parsed(const std::string& text) {
  JsonDocument doc;
  EXPECT_TRUE(doc.parse(text)) << text;
  return doc;
}

TEST(JsonDocumentTest, ParseAcceptsJsonValuesOnly) {
  JsonDocument doc;
  EXPECT_EQ(doc.to_json(), "{}");
  EXPECT_TRUE(doc.parse("0"));
  EXPECT_TRUE(doc.parse("{\"a\":1}"));
  EXPECT_TRUE(doc.parse("false"));
  EXPECT_TRUE(doc.parse("\"a(1)\""));  // a string is stored, never run
  EXPECT_EQ(doc.get_text("length"), "4");
  for (const char* text : {"", "null", " null ", "{a:1}", "{'a':1}", "[1,]", "{\"a\":1} x",
                           "alert(1)", "function(){return 1}()"}) {
    EXPECT_TRUE(doc.parse("[1]"));
    clear_last_script_error();
    EXPECT_FALSE(doc.parse(text)) << text;
    EXPECT_EQ(doc.to_json(), "null") << "a failed parse leaves null, not the old value";
    EXPECT_EQ(doc.type_of(), JsonDocument::kTypeNull);
  }
  EXPECT_EQ(last_script_error().code, ScriptError::parse_failed);
  // A zero byte ends local text: whatever follows it is not JSON.
  EXPECT_FALSE(doc.parse(std::string("[]\0", 3)));
  EXPECT_FALSE(doc.parse(std::string("[\"a\0\"]", 6)));
}

TEST(JsonDocumentTest, NestingIsCappedBeforeAnythingRecurses) {
  JsonDocument doc;
  EXPECT_TRUE(doc.parse(nested_arrays(kMaxJsonDepth)));
  EXPECT_EQ(doc.to_json(), nested_arrays(kMaxJsonDepth));
  JsonDocument inner = doc.get_document("[0]");
  EXPECT_EQ(inner.to_json(), nested_arrays(kMaxJsonDepth - 1));
  EXPECT_FALSE(doc.parse(nested_arrays(kMaxJsonDepth + 1)));
  EXPECT_TRUE(doc.parse(nested_objects(kMaxJsonDepth)));
  EXPECT_FALSE(doc.parse(nested_objects(kMaxJsonDepth + 1)));
  EXPECT_FALSE(doc.parse(std::string(100000, '[')));
  EXPECT_FALSE(doc.parse(nested_arrays(100000)));
  // Brackets inside strings do not count.
  EXPECT_TRUE(doc.parse("[\"" + std::string(5000, '[') + "\\\"\"]"));
  // Writing cannot build what parsing refuses.
  doc.clear();
  const std::string deepest = nested_arrays(kMaxJsonDepth);
  EXPECT_TRUE(doc.set_root(deepest, true));
  EXPECT_FALSE(doc.set_member_json("a", deepest));
  EXPECT_EQ(last_script_error().code, ScriptError::too_large);
  EXPECT_FALSE(doc.push(deepest, "", true));
  EXPECT_FALSE(doc.set_element(0, deepest, true));
  EXPECT_EQ(doc.to_json(), deepest);
}

TEST(JsonDocumentTest, WideObjectsAndDuplicateKeys) {
  // A linear key search per member would take minutes here.
  std::string text = "{";
  for (int i = 0; i < 100000; ++i)
    text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text += "\"k5\":\"last\"}";
  JsonDocument doc = parsed(text);
  EXPECT_EQ(doc.count(), 100000);
  EXPECT_EQ(doc.get_text("k99999"), "99999");
  EXPECT_EQ(doc.get_text("k5"), "last");
  std::vector<std::string> names;
  doc.member_names(names);
  EXPECT_EQ(names[5], "k5");
}

TEST(JsonDocumentTest, PathRules) {
  JsonDocument doc = parsed(
      "{\"a\":1,\"n\":null,\"s\":\"中文\",\"list\":[10,[20,21],{\"fs_id\":7}],"
      "\"o\":{\"3\":\"three\",\"length\":\"own\"}}");
  EXPECT_EQ(doc.get_text("a"), "1");
  EXPECT_EQ(doc.get_text("b"), "");
  EXPECT_EQ(doc.get_text("n"), "");
  clear_last_script_error();
  EXPECT_EQ(doc.get_text("b.c"), "");  // through an absent member
  EXPECT_EQ(last_script_error().code, ScriptError::path_not_found);
  EXPECT_EQ(doc.get_text("n.c"), "");
  EXPECT_EQ(doc.get_text("a.c"), "");  // a number has no members
  EXPECT_EQ(doc.get_text("list.length"), "3");
  EXPECT_EQ(doc.get_text("s.length"), "2");
  EXPECT_EQ(doc.get_text("o.length"), "own");
  EXPECT_EQ(doc.get_text("list[1][0]"), "20");
  EXPECT_EQ(doc.get_text("list[1].length"), "2");
  EXPECT_EQ(doc.get_text("list[2].fs_id"), "7");
  EXPECT_EQ(doc.get_text("list[3]"), "");
  EXPECT_EQ(doc.get_text("o[3]"), "three");
  EXPECT_EQ(doc.get_text("o[003]"), "three");
  EXPECT_EQ(doc.count("list"), 3);
  EXPECT_EQ(doc.count(), 5);
  EXPECT_EQ(doc.count("a"), 0);
  EXPECT_EQ(doc.get_document("").to_json(), "null");  // a lone "." is no path
  EXPECT_EQ(doc.get_document("list").count(), 3);
  for (const char* bad : {"", ".a", "a.", "a..b", "a[]", "a[x]", "a[-1]", "a b", "3a", "a[1"}) {
    clear_last_script_error();
    EXPECT_EQ(doc.get_text(bad), "") << bad;
    EXPECT_EQ(last_script_error().code, ScriptError::path_invalid) << bad;
  }
  // Only the element-or-member joins accept a leading "[".
  EXPECT_EQ(doc.get_number("[0]"), 0);
  EXPECT_FALSE(doc.has_member("[0]"));
}

TEST(JsonDocumentTest, DocumentThatIsAnArray) {
  JsonDocument doc = parsed("[5,[6,7],{\"x\":\"y\"}]");
  EXPECT_EQ(doc.get_text("[1]"), "[6,7]");
  EXPECT_EQ(doc.get_text("[1][1]"), "7");
  EXPECT_EQ(doc.get_text("[2].x"), "y");
  EXPECT_EQ(doc.get_element_text(0), "5");
  EXPECT_EQ(doc.get_element_text(2, "", true), "{\"x\":\"y\"}");
  EXPECT_EQ(doc.get_element_text(3), "");
  EXPECT_EQ(doc.get_element_text(-1), "");
  EXPECT_EQ(doc.count(), 3);
  EXPECT_EQ(doc.count("[1]"), 2);
  EXPECT_EQ(doc.type_of(), JsonDocument::kTypeArray);
  EXPECT_EQ(doc.get_document("[2]").get_text("x"), "y");
  EXPECT_EQ(doc.get_element_document(1).to_json(), "[6,7]");
  EXPECT_EQ(doc.get_texts("[2]", {"x", "z", ""}), (std::vector<std::string>{"y", "", ""}));
}

TEST(JsonDocumentTest, TypeOf) {
  JsonDocument doc = parsed("{\"s\":\"\",\"n\":-1.5,\"o\":{},\"a\":[],\"z\":null,\"b\":true}");
  EXPECT_EQ(doc.type_of("s"), JsonDocument::kTypeString);
  EXPECT_EQ(doc.type_of("n"), JsonDocument::kTypeNumber);
  EXPECT_EQ(doc.type_of("o"), JsonDocument::kTypeObject);
  EXPECT_EQ(doc.type_of(), JsonDocument::kTypeObject);
  EXPECT_EQ(doc.type_of("a"), JsonDocument::kTypeArray);
  EXPECT_EQ(doc.type_of("a.length"), JsonDocument::kTypeNumber);
  EXPECT_EQ(doc.type_of("z"), JsonDocument::kTypeNull);
  EXPECT_EQ(doc.type_of("missing"), JsonDocument::kTypeNull);
  EXPECT_EQ(doc.type_of("b"), JsonDocument::kTypeOther);
  EXPECT_EQ(doc.type_of("missing.x"), JsonDocument::kTypeOther);
  EXPECT_EQ(doc.type_of("z.x"), JsonDocument::kTypeOther);
}

TEST(JsonDocumentTest, NumbersInBothForms) {
  JsonDocument doc = parsed(
      "{\"fs_id\":1152921504606846977,\"max\":18446744073709551615,\"neg\":-9223372036854775808,"
      "\"d16\":4503599627370497,\"half\":1.5,\"one\":1.0,\"big\":1e21,\"below\":1e20,"
      "\"tiny\":1e-7,\"small\":0.000001,\"tenth\":0.1,\"negzero\":-0.0}");
  for (bool as_json : {false, true}) {
    EXPECT_EQ(doc.get_text("fs_id", as_json), "1152921504606846977");
    EXPECT_EQ(doc.get_text("max", as_json), "18446744073709551615");
    EXPECT_EQ(doc.get_text("neg", as_json), "-9223372036854775808");
    EXPECT_EQ(doc.get_text("d16", as_json), "4503599627370497");
    EXPECT_EQ(doc.get_text("half", as_json), "1.5");
    EXPECT_EQ(doc.get_text("one", as_json), "1");
    EXPECT_EQ(doc.get_text("big", as_json), "1e+21");
    EXPECT_EQ(doc.get_text("below", as_json), "100000000000000000000");
    EXPECT_EQ(doc.get_text("tiny", as_json), "1e-7");
    EXPECT_EQ(doc.get_text("small", as_json), "0.000001");
    EXPECT_EQ(doc.get_text("tenth", as_json), "0.1");
    EXPECT_EQ(doc.get_text("negzero", as_json), "0");
  }
  EXPECT_EQ(script_number_text(-123.456e-10), "-1.23456e-8");
  EXPECT_EQ(script_number_text(123456789.125), "123456789.125");
}

TEST(JsonDocumentTest, StringsAndOtherValuesInBothForms) {
  JsonDocument doc = parsed(
      "{\"zh\":\"中文\",\"emoji\":\"\\ud83d\\ude00\",\"esc\":\"q\\\"b\\\\n\\n\\u001f/\","
      "\"t\":true,\"z\":null,\"o\":{\"k\":[1,\"v\"]}}");
  EXPECT_EQ(doc.get_text("zh"), "中文");
  EXPECT_EQ(doc.get_text("zh", true), "\"中文\"");
  EXPECT_EQ(gbk_to_utf8(doc.get_text("emoji")), u8"\U0001F600");
  EXPECT_EQ(doc.get_text("emoji.length"), "2");
  EXPECT_EQ(doc.get_text("esc"), "q\"b\\n\n\x1f/");
  EXPECT_EQ(doc.get_text("esc", true), "\"q\\\"b\\\\n\\n\\u001f/\"");
  EXPECT_EQ(doc.get_text("t"), "true");
  EXPECT_EQ(doc.get_text("t", true), "true");
  EXPECT_EQ(doc.get_text("z", true), "null");
  EXPECT_EQ(doc.get_text("missing", true), "");
  EXPECT_EQ(doc.get_text("o"), "{\"k\":[1,\"v\"]}");
  EXPECT_EQ(doc.get_json("o.k"), "[1,\"v\"]");
}

TEST(JsonDocumentTest, CopiesShareTheValueDocumentsDoNot) {
  JsonDocument doc = parsed("{\"a\":{\"b\":1}}");
  JsonDocument copy(doc);
  JsonDocument assigned;
  assigned = doc;
  JsonDocument sub = doc.get_document("a");
  JsonDocument element = parsed("[{\"b\":1}]").get_element_document(0);
  copy.set_member_number("a.b", 2);
  EXPECT_EQ(doc.get_text("a.b"), "2");
  EXPECT_EQ(assigned.get_text("a.b"), "2");
  EXPECT_EQ(sub.get_text("b"), "1");
  sub.set_member("b", "3");
  EXPECT_EQ(doc.get_text("a.b"), "2");
  EXPECT_EQ(element.to_json(), "{\"b\":1}");
  EXPECT_FALSE(assigned.parse("nonsense"));
  EXPECT_EQ(doc.to_json(), "null");
  EXPECT_EQ(doc.get_document("x").to_json(), "null");
}

TEST(JsonDocumentTest, SetMemberStoresValuesExactly) {
  JsonDocument doc;
  const std::string tricky = "it's \"q\" \\ back\r\nline 中";
  EXPECT_TRUE(doc.set_member("s", tricky));
  EXPECT_EQ(doc.get_text("s"), tricky);
  EXPECT_EQ(doc.get_text("s", true), "\"it's \\\"q\\\" \\\\ back\\r\\nline 中\"");
  EXPECT_TRUE(doc.set_member("j", "{\"x\":[1,2]}", true));
  EXPECT_EQ(doc.get_text("j.x[1]"), "2");
  EXPECT_TRUE(doc.set_member("e", "", true));
  EXPECT_EQ(doc.get_json("e"), "{}");
  EXPECT_FALSE(doc.set_member("j", "{bad", true));
  EXPECT_FALSE(doc.set_member_json("j", ""));
  EXPECT_EQ(doc.get_json("j"), "{\"x\":[1,2]}");
  EXPECT_TRUE(doc.set_member_json("j.x[4]", "\"v\""));
  EXPECT_EQ(doc.get_json("j.x"), "[1,2,null,null,\"v\"]");
  EXPECT_TRUE(doc.set_member_number("j.x.length", 1));
  EXPECT_EQ(doc.get_json("j.x"), "[1]");
  EXPECT_TRUE(doc.set_member_number("n", 2.5));
  EXPECT_EQ(doc.get_number("n"), 2.5);
  EXPECT_FALSE(doc.set_member("missing.x", "v"));  // through an absent member
  EXPECT_FALSE(doc.set_member("n.x", "v"));        // a number keeps no members
  EXPECT_FALSE(doc.set_member("j.x.name", "v"));   // an array keeps no names
  EXPECT_FALSE(doc.set_member("", "v"));
  EXPECT_FALSE(doc.set_member_number("j.x[2000000]", 1));
  EXPECT_EQ(last_script_error().code, ScriptError::too_large);
  EXPECT_EQ(
      doc.to_json(),
      "{\"s\":\"it's \\\"q\\\" \\\\ back\\r\\nline 中\",\"j\":{\"x\":[1]},\"e\":{},\"n\":2.5}");
}

TEST(JsonDocumentTest, PushMakesAnArrayWhereThereIsNone) {
  JsonDocument doc = parsed("{\"s\":\"text\",\"a\":[1],\"z\":null}");
  EXPECT_TRUE(doc.push("x", "missing"));
  EXPECT_TRUE(doc.push("y", "s"));
  EXPECT_TRUE(doc.push("2", "a", true));
  EXPECT_TRUE(doc.push("{\"k\":1}", "a", true));
  EXPECT_FALSE(doc.push("{bad", "a", true));
  EXPECT_FALSE(doc.push("v", "z.deeper"));
  EXPECT_EQ(doc.to_json(), "{\"s\":[\"y\"],\"a\":[1,2,{\"k\":1}],\"z\":null,\"missing\":[\"x\"]}");
  EXPECT_TRUE(doc.push("r"));
  EXPECT_EQ(doc.to_json(), "[\"r\"]");
  EXPECT_TRUE(doc.push("s"));
  EXPECT_EQ(doc.to_json(), "[\"r\",\"s\"]");
}

TEST(JsonDocumentTest, ElementWritesAndRootWrites) {
  JsonDocument doc = parsed("[0,1,2,3]");
  EXPECT_TRUE(doc.remove_element(0));
  EXPECT_EQ(doc.to_json(), "[1,2,3]");
  EXPECT_TRUE(doc.remove_element(-1));
  EXPECT_TRUE(doc.remove_element(9));
  EXPECT_EQ(doc.to_json(), "[1,2]");
  EXPECT_TRUE(doc.set_element(3, "[true]", true));
  EXPECT_TRUE(doc.set_element(0, "a"));
  EXPECT_FALSE(doc.set_element(-1, "a"));
  EXPECT_FALSE(doc.set_element(1, "nope", true));
  EXPECT_EQ(doc.to_json(), "[\"a\",2,null,[true]]");
  EXPECT_TRUE(doc.reset(JsonDocument::kTypeObject));
  EXPECT_TRUE(doc.set_element(7, "seven"));
  EXPECT_EQ(doc.get_text("[7]"), "seven");
  EXPECT_FALSE(doc.remove_element(0));
  EXPECT_FALSE(doc.reset(3));
  EXPECT_TRUE(doc.reset(JsonDocument::kTypeArray));
  EXPECT_EQ(doc.to_json(), "[]");
  EXPECT_TRUE(doc.set_root("plain 'text'"));
  EXPECT_EQ(doc.to_json(), "\"plain 'text'\"");
  EXPECT_FALSE(doc.set_root("", true));
  EXPECT_TRUE(doc.set_root("12", true));
  EXPECT_EQ(doc.type_of(), JsonDocument::kTypeNumber);
  doc.clear();
  EXPECT_EQ(doc.to_json(), "{}");
  EXPECT_TRUE(doc.reset(JsonDocument::kTypeNull));
  EXPECT_EQ(doc.to_json(), "{}");
  EXPECT_TRUE(doc.set_root("null", true));
  EXPECT_FALSE(doc.set_element(0, "x"));
}

TEST(JsonDocumentTest, MemberNamesAreOwnMembersInDocumentOrder) {
  JsonDocument doc = parsed(
      "{\"b\":1,\"a\":{},\"名字\":2,\"with,comma\":3,\"toJSONString\":4,\"\":5,\"arr\":[7,8]}");
  std::vector<std::string> names = {"stale"};
  EXPECT_EQ(doc.member_names(names), 7);
  EXPECT_EQ(names,
            (std::vector<std::string>{"b", "a", "名字", "with,comma", "toJSONString", "", "arr"}));
  EXPECT_EQ(doc.count(), 7);
  EXPECT_EQ(doc.member_names(names, "a"), 0);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(doc.count("a"), 0);
  EXPECT_EQ(doc.member_names(names, "arr"), 2);
  EXPECT_EQ(names, (std::vector<std::string>{"0", "1"}));
  names = {"stale"};
  EXPECT_EQ(doc.member_names(names, "missing.x"), 0);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(doc.get_text("名字"), "2");
}

TEST(JsonDocumentTest, NumbersAndPresenceOfMembers) {
  JsonDocument doc = parsed(
      "{\"n\":42,\"digits\":\" 12.5 \",\"word\":\"12a\",\"inf\":\"inf\",\"t\":true,\"z\":null,"
      "\"plus\":\"+3\",\"e\":\"\"}");
  EXPECT_EQ(doc.get_number("n"), 42);
  EXPECT_EQ(doc.get_number("digits"), 12.5);
  EXPECT_EQ(doc.get_number("plus"), 3);
  for (const char* zero : {"word", "inf", "t", "z", "e", "missing", "missing.x"}) {
    EXPECT_EQ(doc.get_number(zero), 0) << zero;
  }
  EXPECT_TRUE(doc.has_member("n"));
  EXPECT_TRUE(doc.has_member("e"));
  EXPECT_FALSE(doc.has_member("z"));
  EXPECT_FALSE(doc.has_member("missing"));
  EXPECT_FALSE(doc.has_member("missing.x"));
}

}  // namespace
}  // namespace sharelink
