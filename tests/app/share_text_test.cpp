#include "app/share_text.h"

#include <gtest/gtest.h>

namespace sharelink {
namespace {

TEST(ShareText, BareLinksAndTextsWithoutLinkStayAsTyped) {
  for (const std::string bare :
       {"http://127.0.0.1:8080/s/1AbC", "http://h/s/(x)", "http://h/s/1q.", "https://h/s/1q?a=b;c!",
        "http://h/s/[1]", "http://h/s/1文", "http://h/s/\"q\"'", "http://h/s/<1>"}) {
    EXPECT_EQ(parse_share_text(bare).link, bare);
    EXPECT_EQ(parse_share_text(bare).code, "");
  }
  EXPECT_EQ(parse_share_text("复制链接").link, "复制链接");
  EXPECT_EQ(parse_share_text("").link, "");
  EXPECT_EQ(parse_share_text("提取码: abcd").link, "提取码: abcd");
  EXPECT_EQ(parse_share_text("提取码: abcd").code, "");
}

TEST(ShareText, LinkAndCodeFromAShareMessage) {
  ShareText found =
      parse_share_text("链接: https://pan.example.com/s/1AbC-d_E 提取码: x7k2 复制这段内容");
  EXPECT_EQ(found.link, "https://pan.example.com/s/1AbC-d_E");
  EXPECT_EQ(found.code, "x7k2");
  // Full-width colon, no blanks, Chinese text right after the link.
  found = parse_share_text("链接：http://h/s/1q提取码：AB12");
  EXPECT_EQ(found.link, "http://h/s/1q");
  EXPECT_EQ(found.code, "AB12");
  // Sentence punctuation after the link, a line break inside the message.
  found = parse_share_text("see http://h/s/1q.\r\n提取码 9zz9");
  EXPECT_EQ(found.link, "http://h/s/1q");
  EXPECT_EQ(found.code, "9zz9");
  // A code must be exactly four letters or digits.
  EXPECT_EQ(parse_share_text("http://h/s/1q 提取码: abcde").code, "");
  EXPECT_EQ(parse_share_text("http://h/s/1q 提取码: ab").code, "");
}

TEST(ShareText, PwdParameterIsTheCodeAndLeavesTheLink) {
  ShareText found = parse_share_text("http://h/s/1q?pwd=ab12");
  EXPECT_EQ(found.link, "http://h/s/1q");
  EXPECT_EQ(found.code, "ab12");
  found = parse_share_text("http://h/s/1q?x=1&pwd=ab12&y=2");
  EXPECT_EQ(found.link, "http://h/s/1q?x=1&y=2");
  EXPECT_EQ(found.code, "ab12");
  // pwd= beats a differing 提取码 in the same text; a longer value is no code.
  EXPECT_EQ(parse_share_text("http://h/s/1q?pwd=ab12 提取码: zzzz").code, "ab12");
  found = parse_share_text("http://h/s/1q?pwd=abcdef");
  EXPECT_EQ(found.link, "http://h/s/1q?pwd=abcdef");
  EXPECT_EQ(found.code, "");
}

TEST(ConfirmedAnswer, RemovesAsciiAndFullWidthSpaces) {
  EXPECT_EQ(confirmed_answer("ab 12"), "ab12");
  EXPECT_EQ(confirmed_answer("　　"), "");
  EXPECT_EQ(confirmed_answer(" 中 文 "), "中文");
}

}  // namespace
}  // namespace sharelink
