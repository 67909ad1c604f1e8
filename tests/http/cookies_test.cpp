#include "http/cookies.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace sharelink
