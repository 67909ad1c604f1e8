#include "script/regex_object.h"

#include <string>

#include <gtest/gtest.h>

#include "script/last_error.h"
#include "text/text_encoding.h"

namespace sharelink {
namespace {

const char kCharsetPattern[] = "<meta.+?charset=[^\\w]?([-\\w]+)";

TEST(RegexObjectTest, FindsTheCharsetOfAMetaTagWhateverItsCase) {
  RegexObject re;
  ASSERT_TRUE(re.execute(kCharsetPattern,
                         "<html><head>\r\n<META http-equiv=\"Content-Type\" "
                         "content=\"text/html; Charset=gbk\">\r\n</head>"));
  EXPECT_EQ(re.submatch_text(1, 1), "gbk");

  ASSERT_TRUE(re.execute(kCharsetPattern, "<meta charset=\"utf-8\" />"));
  EXPECT_EQ(re.submatch_text(1, 1), "utf-8");
}

TEST(RegexObjectTest, DotNeverCrossesALineBreak) {
  RegexObject re;
  ASSERT_TRUE(re.execute(kCharsetPattern, "<meta name=x>\n<p>charset=gbk</p>"));
  EXPECT_EQ(re.match_count(), 0);
  ASSERT_TRUE(re.execute(kCharsetPattern, "<meta name=x>\r<p>charset=gbk</p>"));
  EXPECT_EQ(re.match_count(), 0);
  ASSERT_TRUE(re.execute("a.b", "a\nb a\rb axb", false, true));
  EXPECT_EQ(re.match_count(), 1);
  EXPECT_EQ(re.match_text(1), "axb");
}

TEST(RegexObjectTest, NothingMatchedIsStillASuccessfulRun) {
  RegexObject re;
  EXPECT_EQ(re.match_text(1), "");  // before any run
  EXPECT_EQ(re.replace("x"), "");
  ASSERT_TRUE(re.execute(kCharsetPattern, "<html><head></head></html>"));
  EXPECT_EQ(re.match_count(), 0);
  EXPECT_EQ(re.submatch_count(), 0);
  EXPECT_EQ(re.submatch_text(1, 1), "");
}

TEST(RegexObjectTest, InvalidPatternFailsAndLeavesNoMatches) {
  RegexObject re;
  ASSERT_TRUE(re.execute("(a)", "aaa"));
  ASSERT_EQ(re.match_count(), 3);
  clear_last_script_error();
  EXPECT_FALSE(re.execute("(a", "aaa"));
  EXPECT_EQ(last_script_error().code, ScriptError::pattern_invalid);
  EXPECT_EQ(re.match_count(), 0);
  EXPECT_EQ(re.match_text(1), "");
  EXPECT_EQ(re.replace("b"), "");
  EXPECT_EQ(re.pattern(), "(a");
}

TEST(RegexObjectTest, OptionsCaseAndGlobal) {
  RegexObject re;
  ASSERT_TRUE(re.execute("ab", "AB ab Ab"));
  EXPECT_EQ(re.match_count(), 3);
  ASSERT_TRUE(re.execute("ab", "AB ab Ab", true));
  EXPECT_EQ(re.match_count(), 1);
  EXPECT_EQ(re.match_text(1), "ab");
  ASSERT_TRUE(re.execute("ab", "AB ab Ab", false, true, false));
  EXPECT_EQ(re.match_count(), 1);
  EXPECT_EQ(re.match_text(1), "AB");
  EXPECT_EQ(re.replace("x"), "x ab Ab");
}

TEST(RegexObjectTest, MultilineDecidesWhereAnchorsMatch) {
  RegexObject re;
  ASSERT_TRUE(re.execute("^\\w+$", "one\r\ntwo\nthree"));
  EXPECT_EQ(re.match_count(), 3);
  EXPECT_EQ(re.match_text(3), "three");
  ASSERT_TRUE(re.execute("^\\w+$", "one\ntwo", false, false));
  EXPECT_EQ(re.match_count(), 0);
  // $ without multiline is the very end, not before a final line break.
  ASSERT_TRUE(re.execute("two$", "one\ntwo\n", false, false));
  EXPECT_EQ(re.match_count(), 0);
}

TEST(RegexObjectTest, QuoteTokenStandsForADoubleQuote) {
  RegexObject re;
  const std::string subject = "<a href=\"x.htm\">";
  ASSERT_TRUE(re.execute("href=#引号([^#引号]+)", subject, false, true, true, true));
  EXPECT_EQ(re.submatch_text(1, 1), "x.htm");
  EXPECT_EQ(re.pattern(), "href=\"([^\"]+)");
  ASSERT_TRUE(re.execute("href=#引号", subject));
  EXPECT_EQ(re.match_count(), 0);
}

TEST(RegexObjectTest, PositionsAreByteOffsetsInLocalText) {
  RegexObject re;
  // Two double-byte characters before the match: byte offset 2 more than the
  // character index.
  ASSERT_TRUE(re.execute("charset=(\\w+)", "中文charset=gbk"));
  int position = -1;
  EXPECT_EQ(re.match_text(1, position, true), "charset=gbk");
  EXPECT_EQ(position, 4);
  EXPECT_EQ(re.submatch_text(1, 1, position, true), "gbk");
  EXPECT_EQ(position, 12);
  // Chinese text is matched and returned as local text.
  ASSERT_TRUE(re.execute("名=(.+)", "a 名=张三"));
  EXPECT_EQ(re.submatch_text(1, 1, position, true), "张三");
  EXPECT_EQ(position, 5);
  // Ignoring case, the search for the position ignores it too.
  ASSERT_TRUE(re.execute("charset", "中CHARSET"));
  EXPECT_EQ(re.match_text(1, position, true), "CHARSET");
  EXPECT_EQ(position, 2);
  position = 7;
  re.match_text(1, position, false);
  EXPECT_EQ(position, 7);
}

TEST(RegexObjectTest, RepeatedTextReportsItsOwnPosition) {
  RegexObject re;
  ASSERT_TRUE(re.execute("a", "aa"));
  int position = -1;
  re.match_text(2, position, true);
  EXPECT_EQ(position, 1);
  // A group reports the first occurrence of its text inside the whole match.
  ASSERT_TRUE(re.execute("(a)(a)", "xaa"));
  re.submatch_text(1, 2, position, true);
  EXPECT_EQ(position, 1);
  ASSERT_TRUE(re.execute("x", "中x中x"));
  re.match_text(2, position, true);
  EXPECT_EQ(position, 5);
  // A character outside GBK takes four bytes and two UTF-16 units.
  ASSERT_TRUE(re.execute("b", utf8_to_gbk(u8"\U0001F600b")));
  re.match_text(1, position, true);
  EXPECT_EQ(position, 4);
}

TEST(RegexObjectTest, OutOfRangeNumbersGiveEmptyText) {
  RegexObject re;
  ASSERT_TRUE(re.execute("(a)(x)?", "a"));
  int position = 9;
  EXPECT_EQ(re.submatch_count(), 2);
  EXPECT_EQ(re.submatch_text(1, 2), "");  // took part in no match
  EXPECT_EQ(re.submatch_text(1, 3, position, true), "");
  EXPECT_EQ(position, -2);
  EXPECT_EQ(re.submatch_text(0, 1), "");
  EXPECT_EQ(re.submatch_text(1, 0), "");
  EXPECT_EQ(re.match_text(2), "");
  EXPECT_EQ(re.submatch_text(2, 1), "");
}

TEST(RegexObjectTest, EmptyMatchesAdvanceLikeEcmaScript) {
  RegexObject re;
  ASSERT_TRUE(re.execute("a*", "baac"));
  ASSERT_EQ(re.match_count(), 4);
  EXPECT_EQ(re.match_text(2), "aa");
  EXPECT_EQ(re.replace("-"), "-b--c-");
  ASSERT_TRUE(re.execute("", utf8_to_gbk(u8"\U0001F600")));
  EXPECT_EQ(re.match_count(), 2);
}

TEST(RegexObjectTest, ReplaceExpandsGroupReferences) {
  RegexObject re;
  ASSERT_TRUE(re.execute("(\\w+)=(\\w+)", "a=1; b=2"));
  EXPECT_EQ(re.replace("$2:$1"), "1:a; 2:b");
  EXPECT_EQ(re.replace("[$&] $$ $3 $"), "[a=1] $ $3 $; [b=2] $ $3 $");
  ASSERT_TRUE(re.execute("中", "甲中乙"));
  EXPECT_EQ(re.replace("<$`|$'>"), "甲<甲|乙>乙");
}

TEST(RegexObjectTest, EcmaScriptEscapes) {
  RegexObject re;
  ASSERT_TRUE(re.execute("\\u4e2d\\x41", "中A"));
  EXPECT_EQ(re.match_count(), 1);
  ASSERT_TRUE(re.execute("[^]", "\n"));
  EXPECT_EQ(re.match_count(), 1);
  ASSERT_TRUE(re.execute("(a)|\\1b", "b"));
  EXPECT_EQ(re.match_text(1), "b");
}

TEST(RegexObjectTest, CatastrophicBacktrackingFailsInsteadOfHanging) {
  RegexObject re;
  clear_last_script_error();
  EXPECT_FALSE(re.execute("(a+)+$", std::string(40, 'a') + "!"));
  EXPECT_EQ(last_script_error().code, ScriptError::match_limit);
  EXPECT_EQ(re.match_count(), 0);
  // A group repeated a million times needs a million backtracking frames.
  EXPECT_FALSE(re.execute("(a|b)*c", std::string(1'000'000, 'a') + "c"));
  EXPECT_EQ(last_script_error().code, ScriptError::match_limit);
}

TEST(RegexObjectTest, CopiesKeepTheirMatchesWhenTheSourceRunsAgain) {
  RegexObject re;
  ASSERT_TRUE(re.execute("\\d", "1 2 3"));
  RegexObject copy(re);
  ASSERT_TRUE(re.execute("x", "y"));
  EXPECT_EQ(re.match_count(), 0);
  EXPECT_EQ(copy.match_count(), 3);
  EXPECT_EQ(copy.match_text(3), "3");
  copy = re;
  EXPECT_EQ(copy.match_count(), 0);
  EXPECT_EQ(copy.pattern(), "x");
}

}  // namespace
}  // namespace sharelink
