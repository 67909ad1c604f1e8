#pragma once

// Texts the front ends show besides the job's log lines.

namespace sharelink {

// The main window's caption: the program's name and version; while a job
// runs, kProgressCaption followed by "links obtained/files found".
constexpr const char* kMainCaption = "sharelink " SHARELINK_VERSION;
constexpr const char* kProgressCaption = "sharelink — 解析中 ";
constexpr const char* kMessageCaption = "信息：";
constexpr const char* kCaptchaFailedCaption = "验证码获取失败";
constexpr const char* kCopiedMessage = "下载地址,已复制到剪贴板!";
constexpr const char* kEnterCaptchaMessage = "请输入验证码!";
constexpr const char* kEnterCodeMessage = "请输入提取密码!";
constexpr const char* kCaptchaTitle = "请输入验证码";
constexpr const char* kCodeTitle = "请输入提取密码";
constexpr const char* kSampleCode = "r5kw";
constexpr const char* kUrlPlaceholder = "复制链接";
// The file choice: the main window's check box and the window it opens.
constexpr const char* kChooseFirstLabel = "先选择文件";
constexpr const char* kChoiceTitle = "选择文件";
constexpr const char* kCheckMatchingLabel = "选中";
constexpr const char* kUncheckMatchingLabel = "取消选中";
constexpr const char* kChoiceOkLabel = "确定";
constexpr const char* kChooseFileMessage = "请选择文件!";
constexpr const char* kNoMatchMessage = "没有与筛选条件匹配的文件!";

}  // namespace sharelink
