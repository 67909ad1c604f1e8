#include "text/local_text.h"

#include <gtest/gtest.h>

namespace sharelink {
namespace {

using List = std::vector<std::string>;

TEST(SplitText, KeepsInnerEmptyPartsButNotATrailingOne) {
  EXPECT_EQ(split_text("", ";"), List());
  EXPECT_EQ(split_text("a", ";"), List({"a"}));
  EXPECT_EQ(split_text("a;b", ";"), List({"a", "b"}));
  EXPECT_EQ(split_text("a;;b;", ";"), List({"a", "", "b"}));
  EXPECT_EQ(split_text(";", ";"), List({""}));
  EXPECT_EQ(split_text("a; b; c", "; "), List({"a", "b", "c"}));
}

TEST(FindLocal, StepsOverDoubleByteCharacters) {
  // F1 40 is one character whose trail byte is the code of "@".
  const std::string text =
      "\xF1\x40"
      "@";
  EXPECT_EQ(find_local(text, "@"), 2u);
  EXPECT_EQ(text.find('@'), 1u);  // a byte search would have split the character
  EXPECT_EQ(find_local("ab中c", "c"), 4u);
  EXPECT_EQ(find_local("abc", "x"), std::string::npos);
  EXPECT_EQ(find_local("abcabc", "abc", 1), 3u);
  EXPECT_EQ(find_local("ab", "abc"), std::string::npos);
}

TEST(FindLocal, IgnoreCaseFoldsOnlySingleByteLetters) {
  EXPECT_EQ(find_local("xxCharSet=", "charset=", 0, true), 2u);
  EXPECT_EQ(find_local("xxCharSet=", "charset="), std::string::npos);
  // F1 40 vs F1 60: the trail bytes differ by 0x20 like letter cases do, but they
  // are different characters.
  EXPECT_EQ(find_local("\xF1\x60", "\xF1\x40", 0, true), std::string::npos);
}

TEST(LocalText, CaseAndSpaces) {
  EXPECT_EQ(ascii_upper("aZ中m"), "AZ中M");
  EXPECT_EQ(ascii_upper("\xF1\x61"), "\xF1\x61");  // trail byte stays
  EXPECT_EQ(remove_spaces(" a b\xA1\xA1"
                          "c 中 "),
            "abc中");
  EXPECT_EQ(trim_spaces("  a b  "), "a b");
  EXPECT_EQ(trim_spaces("   "), "");
  EXPECT_EQ(replace_all("#引号a#引号", "#引号", "\""), "\"a\"");
  EXPECT_EQ(replace_all("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(until_zero(std::string("ab\0cd", 5)), "ab");
}

}  // namespace
}  // namespace sharelink
