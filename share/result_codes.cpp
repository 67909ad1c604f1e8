#include "share/result_codes.h"

#include <climits>
#include <cstdlib>

#include "text/local_text.h"

namespace sharelink {

namespace {

struct CodeMessage {
  int code;
  const char* message;
};

// The messages mix full-width and ASCII punctuation as the service writes them.
constexpr CodeMessage kMessages[] = {
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
    {kStopped, "用户主动停止"},
    {kListedOnly, "只列出文件,未请求下载地址"},
    {kNothingChosen, "自定义错误代码,没有选中任何文件"},
    {kChoiceGivenUp, "用户主动放弃,选择文件"},
    {kOutOfMemory, "自定义错误代码,内存不足"},
    {kListTooLarge, "自定义错误代码,文件列表过大"},
    {kFolderTooDeep, "自定义错误代码,目录层级过深"},
    {kCaptchaMissing, "自定义错误代码,验证码为空"},
    {kTooManyEntries, "自定义错误代码,分享文件过多"},
    {kLinkMissing, "自定义错误代码,下载地址为空"},
    {kRequestFailed, "自定义错误代码,网络请求失败"},
    {kLinkInvalid, "自定义错误代码,该链接已失效"},
    {kJsonParseFailed, "自定义错误代码,JSON解析失败"},
    {kBadCaptchaKind, "自定义错误代码,常量设置不正确"},
    {2, "参数错误"},
    {3, "未登录或帐号无效"},
    {4, "存储好像出问题了，请稍候再试"},
    {108, "文件名有敏感词，优化一下吧"},
    {110, "分享次数超出限制，可以到[我的分享]中查看已分享的文件链接"},
    {114, "当前任务不存在，保存失败"},
    {115, "该文件禁止分享"},
    {112, "页面已过期，请刷新后重试"},
};

bool ends_number(char c) {
  return c == ',' || c == '}' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

int read_errno(const std::string& reply) {
  const std::string marker = "errno\":";
  std::size_t at = find_local(reply, marker);
  if (at == std::string::npos) return 0;
  std::size_t begin = at + marker.size();
  // Blanks may stand between the marker and the number; the number itself ends at
  // the first separator after it, so an errno that is the last member still counts.
  std::size_t digits = begin;
  while (digits < reply.size() && (reply[digits] == ' ' || reply[digits] == '\t'))
    ++digits;
  std::size_t end = digits;
  while (end < reply.size() && !ends_number(reply[end]))
    ++end;
  std::string number = reply.substr(begin, end - begin);
  long value = std::strtol(number.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string error_message(int code) {
  for (const CodeMessage& row : kMessages) {
    if (row.code == code) return row.message;
  }
  return "未知错误ID:" + std::to_string(code);
}

}  // namespace sharelink
