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
// The cue the empty filter box shows.
constexpr const char* kFilterCue = "筛选, 如 **/*.pdf";
constexpr const char* kNothingToCopyMessage = "没有可复制的下载地址!";
// The status bar: a job's progress, "解析中 627/5000", then its summary.
constexpr const char* kStatusProgress = "解析中 ";
// 下载 and its window.
constexpr const char* kDownloadLabel = "下载";
constexpr const char* kDownloadTitle = "下载";
constexpr const char* kChooseFolderTitle = "选择下载到的文件夹";
constexpr const char* kStartLabel = "开始";
constexpr const char* kStopLabel = "停止";
constexpr const char* kResumeLabel = "继续";
constexpr const char* kOpenFolderLabel = "打开文件夹";
// The list's column titles, in the order of its columns.
constexpr const char* kDownloadColumnTitles[] = {"文件", "大小", "进度", "速度", "状态"};
constexpr const char* kRowWaiting = "等待";
constexpr const char* kRowRunning = "下载中";
constexpr const char* kRowDone = "已完成";
constexpr const char* kRowFailed = "失败: ";
constexpr const char* kStopDownloadQuestion =
    "下载尚未完成, 是否停止? 已下载的部分会保留, 可以稍后继续.";
constexpr const char* kQuestionCaption = "请确认";

}  // namespace sharelink
