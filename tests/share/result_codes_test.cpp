#include "share/result_codes.h"

#include <gtest/gtest.h>

#include <set>

namespace sharelink {
namespace {

TEST(ReadErrno, MarkerRules) {
  EXPECT_EQ(read_errno("{\"errno\":0,\"list\":[]}"), 0);
  EXPECT_EQ(read_errno("{\"errno\": -9,\"x\":1}"), -9);
  EXPECT_EQ(read_errno("{\"show_msg\":\"\",\"errno\":-62,\"x\":1}"), -62);
  // The first occurrence decides, even inside another member's name.
  EXPECT_EQ(read_errno("{\"old_errno\":5,\"errno\":-9,}"), 5);
  EXPECT_EQ(read_errno(""), 0);
  EXPECT_EQ(read_errno("<html>no marker</html>"), 0);
  EXPECT_EQ(read_errno("{\"errno\":abc,}"), 0);
}

TEST(ReadErrno, LastMemberIsNotReadAsSuccess) {
  EXPECT_EQ(read_errno("{\"list\":[],\"errno\":-9}"), -9);
  EXPECT_EQ(read_errno("{\"errno\":-20 }"), -20);
  EXPECT_EQ(read_errno("{\"errno\":-20\r\n}"), -20);
  EXPECT_EQ(read_errno("{\"errno\":-12"), -12);
  EXPECT_EQ(read_errno("{\"errno\":99999999999}"), 2147483647);
}

TEST(ErrorMessage, EveryRowOfTheTable) {
  const std::pair<int, const char*> rows[] = {
      {0, "成功"},
      {-1, "由于您分享了违反相关法律法规的文件，分享功能已被禁用，之前分享出去的文件不受影响。"},
      {-2, "用户不存在,请刷新页面后重试"},
      {-3, "文件不存在,请刷新页面后重试"},
      {-4, "登录信息有误，请重新登录试试"},
      {-5, "host_key和user_key无效"},
      {-6, "请重新登录"},
      {-7, "该分享已删除或已取消"},
      {-8, "该分享已经过期"},
      {-9, "访问密码错误"},
      {-12, "访问密码错误"},
      {-10, "分享外链已经达到最大上限100000条，不能再次分享"},
      {-11, "验证cookie无效"},
      {-14, "对不起，短信分享每天限制20条，你今天已经分享完，请明天再来分享吧！"},
      {-15, "对不起，邮件分享每天限制20封，你今天已经分享完，请明天再来分享吧！"},
      {-16, "对不起，该文件已经限制分享！"},
      {-17, "文件分享超过限制"},
      {-20, "下载验证码错误"},
      {-30, "文件已存在"},
      {-31, "文件保存失败"},
      {-33, "一次支持操作999个，减点试试吧"},
      {-62, "访问验证码错误"},
      {-70, "你分享的文件中包含病毒或疑似病毒，为了你和他人的数据安全，换个文件分享吧"},
      {-992, "自定义错误代码,目录层级过深"},
      {-993, "自定义错误代码,验证码为空"},
      {-994, "自定义错误代码,分享文件过多"},
      {-995, "自定义错误代码,下载地址为空"},
      {-996, "自定义错误代码,网络请求失败"},
      {-997, "自定义错误代码,该链接已失效"},
      {-998, "自定义错误代码,JSON解析失败"},
      {-999, "自定义错误代码,常量设置不正确"},
      {2, "参数错误"},
      {3, "未登录或帐号无效"},
      {4, "存储好像出问题了，请稍候再试"},
      {108, "文件名有敏感词，优化一下吧"},
      {110, "分享次数超出限制，可以到[我的分享]中查看已分享的文件链接"},
      {114, "当前任务不存在，保存失败"},
      {115, "该文件禁止分享"},
      {112, "页面已过期，请刷新后重试"},
  };
  std::set<int> codes;
  for (const auto& row : rows) {
    EXPECT_EQ(error_message(row.first), row.second) << row.first;
    codes.insert(row.first);
  }
  EXPECT_EQ(codes.size(), 39u);
  // The full-width comma of -1 is the two bytes A3 AC of the local code page.
  EXPECT_NE(error_message(-1).find("\xA3\xAC"), std::string::npos);
}

TEST(ErrorMessage, UnknownCodesNameTheNumber) {
  EXPECT_EQ(error_message(-21), "未知错误ID:-21");
  EXPECT_EQ(error_message(1), "未知错误ID:1");
  EXPECT_EQ(error_message(5), "未知错误ID:5");
  EXPECT_EQ(error_message(-13), "未知错误ID:-13");
  EXPECT_EQ(error_message(-18), "未知错误ID:-18");
}

}  // namespace
}  // namespace sharelink
