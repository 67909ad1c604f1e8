// The main window's logic through a fake view: whole jobs against the
// simulator, as the window runs them, the job's thread and all.

#include "app/desktop/main_presenter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/app_texts.h"
#include "desktop/presenter_run.h"

namespace sharelink {
namespace {

struct JobCase {
  const char* name;
  const char* surl;  // nullptr: an empty box
  const char* status;
  int links;
  const char* status_bar;  // how the status bar begins after the job
};

void PrintTo(const JobCase& row, std::ostream* out) {
  *out << row.name;
}

class MainPresenterJob : public PresenterRun, public ::testing::WithParamInterface<JobCase> {};

TEST_P(MainPresenterJob, RunsWithTheControlsOffAndCopiesWhatItFound) {
  const JobCase& row = GetParam();
  job_view.set_window(&presenter);
  view.url = !row.surl          ? ""
             : *row.surl == ':' ? "http://127.0.0.1" + std::string(row.surl)
                                : sim.link(row.surl);
  ResolveLimits quick;
  quick.retry_delays_ms = {0, 0};
  state.share_client.set_limits(quick);
  presenter.url_entered();    // Enter in the URL box
  presenter.parse_clicked();  // the job holds its slot: no second one
  EXPECT_EQ(view.status, "解析中 0/0");
  ASSERT_TRUE(run_until([&] { return ended(); })) << ::testing::PrintToString(view.events);
  EXPECT_EQ(view.status.rfind(row.status_bar, 0), 0u) << view.status;
  EXPECT_EQ(view.events.front(), "disable");
  EXPECT_EQ(view.events.back(), "enable");
  EXPECT_TRUE(view.last_caption.empty() || view.last_caption == kMainCaption);
  EXPECT_NE(view.log.find("] 解析状态: " + std::string(row.status) + "\r\n"), std::string::npos)
      << view.log;
  EXPECT_EQ(view.log.find("解析URL: "), 22u);
  EXPECT_EQ(view.log.rfind(std::string(88, '-')) + 88 + 4, view.log.size());

  // 复制 once every line is shown: the links, one a line, and the message;
  // with none the clipboard is left alone and the message says so.
  const std::size_t shown = view.events.size();
  presenter.copy_clicked();
  if (row.links == 0) {
    ASSERT_EQ(view.events.size(), shown + 1);
    EXPECT_EQ(view.events[shown], std::string("message ") + kNothingToCopyMessage);
    EXPECT_FALSE(view.download_enabled);
  } else {
    ASSERT_EQ(view.events.size(), shown + 2);
    EXPECT_EQ(view.events[shown + 1], std::string("message ") + kCopiedMessage);
    EXPECT_TRUE(view.download_enabled);
  }
  const std::string copied = row.links == 0 ? "" : view.events[shown];
  int lines = 0;
  for (std::size_t at = copied.find("\r\n"); at != std::string::npos;
       at = copied.find("\r\n", at + 2))
    ++lines;
  EXPECT_EQ(lines, row.links) << copied;

  presenter.clear_clicked();
  EXPECT_EQ(view.log, "");
  presenter.close_clicked();
  EXPECT_EQ(view.events.back(), "close");
  EXPECT_TRUE(bridge.closed());
  EXPECT_TRUE(jobs.wait_idle(std::chrono::seconds(5)));
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, MainPresenterJob,
    ::testing::Values(JobCase{"empty_box", nullptr, "自定义错误代码,网络请求失败", 0,
                              "网络请求失败: 地址无效"},
                      JobCase{"refused", ":9/s/1PubDemoXq7Ra", "自定义错误代码,网络请求失败", 0,
                              "网络请求失败: 无法连接到 127.0.0.1:9"},
                      JobCase{"public_share", "1PubDemoXq7Ra", "成功", 8,
                              "共 8 个文件, 已获取 8 个下载地址, 用时 "},
                      JobCase{"code_prompt_closed", "1LockDemoK3vP", "用户主动放弃,输入提取密码", 0,
                              "用户主动放弃,输入提取密码"}),
    [](const ::testing::TestParamInfo<JobCase>& info) { return std::string(info.param.name); });

// 停止 pressed as the job starts, and while it waits on its prompt.
class MainPresenterStop : public PresenterRun, public ::testing::WithParamInterface<bool> {};

TEST_P(MainPresenterStop, StopsTheJobAndClosesItsPromptThenParsesAgain) {
  const bool prompt_open = GetParam();
  job_view.set_window(&presenter);
  view.url = sim.link("1LockDemoK3vP");
  view.keep_prompts = true;
  presenter.parse_clicked();
  ASSERT_TRUE(run_until([&] { return view.events.size() == (prompt_open ? 2u : 1u); }));
  presenter.parse_clicked();
  EXPECT_TRUE(state.stop_requested);
  ASSERT_TRUE(run_until([&] { return ended(); })) << ::testing::PrintToString(view.events);
  std::vector<std::string> events = {"disable", "close prompts", "enable"};
  if (prompt_open) events.insert(events.begin() + 1, "prompt");
  EXPECT_EQ(view.events, events);
  EXPECT_NE(view.log.find("] 解析状态: 用户主动停止\r\n"), std::string::npos) << view.log;
  // The next job is not stopped: it reaches its prompt.
  presenter.parse_clicked();
  EXPECT_TRUE(run_until([&] { return view.events.back() == "prompt"; }));
  presenter.close_clicked();
  EXPECT_TRUE(jobs.wait_idle(std::chrono::seconds(5)));
}

INSTANTIATE_TEST_SUITE_P(Stop, MainPresenterStop, ::testing::Bool());

struct ChoiceCase {
  const char* name;
  const char* surl;
  std::vector<std::string> steps;
  const char* status;
  std::vector<std::string> reported;  // the report's names (folders in brackets)
  std::size_t link_requests;
  const char* summary;  // the count line as the window was left
  const char* message;  // a message box the window showed; "" for none
  const char* line;     // another line of the log; "" for none
};

void PrintTo(const ChoiceCase& row, std::ostream* out) {
  *out << row.name;
}

class MainPresenterChoice : public PresenterRun,
                            public ::testing::WithParamInterface<ChoiceCase> {};

// The names of the report's blocks in order: a file's name, a folder's as
// "[name]".
std::vector<std::string> reported_names(const std::string& log) {
  std::vector<std::string> names;
  const std::string number = "] 文件编号: ";
  for (std::size_t at = log.find(number); at != std::string::npos; at = log.find(number, at + 1)) {
    const std::size_t folder = log.find("] [", at);
    const std::size_t file = log.find("] 文件名称: ", at);
    const std::size_t start =
        folder < file ? folder + 2 : file + std::string("] 文件名称: ").size();
    const std::size_t end = folder < file ? log.find("]", start) + 1 : log.find("\r\n", start);
    names.push_back(log.substr(start, end - start));
    EXPECT_EQ(log.compare(at + number.size(), std::to_string(names.size()).size() + 2,
                          std::to_string(names.size()) + "\r\n"),
              0);
  }
  return names;
}

TEST_P(MainPresenterChoice, RequestsAndReportsTheChosenFilesOnly) {
  const ChoiceCase& row = GetParam();
  job_view.set_window(&presenter);
  view.url = sim.link(row.surl);
  view.choose = true;
  view.steps = row.steps;
  presenter.parse_clicked();
  ASSERT_TRUE(run_until([&] { return ended(); })) << ::testing::PrintToString(view.events);
  EXPECT_NE(view.log.find("] 解析状态: " + std::string(row.status) + "\r\n"), std::string::npos)
      << view.log;
  EXPECT_NE(view.log.find(row.line), std::string::npos) << view.log;
  EXPECT_EQ(reported_names(view.log), row.reported);
  EXPECT_EQ(sim.requests("download").size(), row.link_requests);
  EXPECT_EQ(view.summary, row.summary);
  const std::string message = std::string("message ") + row.message;
  EXPECT_EQ(std::count(view.events.begin(), view.events.end(), message), *row.message ? 1 : 0);
  // 复制 carries the reported links, nothing else.
  const std::string links = state.links_text();
  std::size_t reported_links = 0;
  for (std::size_t at = view.log.find("下载地址: http"); at != std::string::npos;
       at = view.log.find("下载地址: http", at + 1))
    ++reported_links;
  EXPECT_EQ(static_cast<std::size_t>(std::count(links.begin(), links.end(), '\n')), reported_links);
  presenter.close_clicked();
  EXPECT_TRUE(jobs.wait_idle(std::chrono::seconds(5)));
}

const std::vector<std::string> kWholePublicShare = {
    "说明 readme.txt", "[照片 & 视频 #1]", "big 64bit id.bin", "工具 tool.exe",      "[深层 目录]",
    "空文件.txt",      "最后的文件.pdf",   "海边 🌊 2023.jpg",  "plus+sign 100%.txt", "a);b.txt"};

INSTANTIATE_TEST_SUITE_P(
    Choices, MainPresenterChoice,
    ::testing::Values(ChoiceCase{"folder_unchecked",
                                 "1PubDemoXq7Ra",
                                 {"check 1", "ok"},
                                 "成功",
                                 {"说明 readme.txt", "big 64bit id.bin", "工具 tool.exe"},
                                 3,
                                 "已选 3 个文件, 4.0 GB / 共 8 个文件, 4.1 GB",
                                 "",
                                 ""},
                      ChoiceCase{"pattern_after_unchecking_all",
                                 "1PubDemoXq7Ra",
                                 {"unselect", "filter  **/*.PDF ", "select", "ok"},
                                 "成功",
                                 {"[照片 & 视频 #1]", "[深层 目录]", "最后的文件.pdf"},
                                 1,
                                 "已选 1 个文件, 1.0 MB / 共 8 个文件, 4.1 GB",
                                 "",
                                 ""},
                      ChoiceCase{"one_file_back_in_an_unchecked_folder",
                                 "1PubDemoXq7Ra",
                                 {"open 1", "check 1", "check 3", "ok"},
                                 "成功",
                                 {"说明 readme.txt", "[照片 & 视频 #1]", "big 64bit id.bin",
                                  "工具 tool.exe", "海边 🌊 2023.jpg"},
                                 4,
                                 "已选 4 个文件, 4.1 GB / 共 8 个文件, 4.1 GB",
                                 "",
                                 ""},
                      ChoiceCase{"pattern_matching_nothing_changes_nothing",
                                 "1PubDemoXq7Ra",
                                 {"filter *.none", "unselect", "ok"},
                                 "成功",
                                 kWholePublicShare,
                                 8,
                                 "已选 8 个文件, 4.1 GB / 共 8 个文件, 4.1 GB",
                                 "没有与筛选条件匹配的文件!",
                                 ""},
                      ChoiceCase{"nothing_checked_then_the_close_box",
                                 "1PubDemoXq7Ra",
                                 {"unselect", "ok", "close"},
                                 "用户主动放弃,选择文件",
                                 kWholePublicShare,
                                 0,
                                 "已选 0 个文件, 0 B / 共 8 个文件, 4.1 GB",
                                 "请选择文件!",
                                 "下载地址: 用户主动放弃解析或解析失败"},
                      // The captcha comes with the second request: the number the status
                      // line names is that of the report's block.
                      ChoiceCase{"captcha_numbers_the_chosen_list",
                                 "1CapDemoW9zT",
                                 {"check 0", "ok"},
                                 "用户主动放弃,输入验证码",
                                 {"第二集.mp4", "字幕 subtitles.srt"},
                                 2,
                                 "已选 2 个文件, 679 MB / 共 3 个文件, 1.3 GB",
                                 "",
                                 "] 解析状态: 第[ 2 ]编号文件,"}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sharelink
