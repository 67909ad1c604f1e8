#include "app/resolve_job.h"

#include <gtest/gtest.h>

#include <deque>

#include "e2e/sim_harness.h"

namespace sharelink {
namespace {

using testing::SimHarness;

// A view that plays the user: answers prompts from a script ("" closes the
// prompt), and answers captchas with the simulator's own answer.
class ScriptedView : public JobView {
 public:
  ScriptedView(AppState& state, SimHarness& sim, std::string url)
      : state_(state), sim_(sim), url_(std::move(url)) {}

  std::deque<std::string> codes;     // answers to extraction-code prompts
  std::vector<std::string> offered;  // the code each of them offered
  int captchas_to_answer = 1000;     // captcha prompts answered before closing one
  std::string log;
  std::vector<bool> enabled_changes;
  int captcha_prompts = 0;

  std::string read_url() override { return url_; }
  void set_input_enabled(bool enabled) override { enabled_changes.push_back(enabled); }
  void append_log(const std::string& text) override { log += text; }
  void show_extraction_code_prompt() override {
    offered.push_back(state_.suggested_code);
    if (codes.empty()) return;  // the close box
    state_.extraction_code = codes.front();
    codes.pop_front();
  }
  void show_captcha_prompt() override {
    ++captcha_prompts;
    Bytes image;
    ASSERT_EQ(state_.share_client.fetch_captcha(image, state_.job_status), 0);
    if (captchas_to_answer-- <= 0) return;
    state_.captcha_answer = sim_.sim().captcha_answer(state_.share_client.vcode_str()).value_or("");
  }

 private:
  AppState& state_;
  SimHarness& sim_;
  std::string url_;
};

// Every "[yyyy-MM-dd HH:mm:ss] " becomes "[T] ".
std::string masked(const std::string& log) {
  const std::string shape = "[0000-00-00 00:00:00] ";
  std::string out;
  std::size_t i = 0;
  while (i < log.size()) {
    bool stamp = log.size() - i >= shape.size();
    for (std::size_t k = 0; stamp && k < shape.size(); ++k) {
      const char c = log[i + k];
      stamp = shape[k] == '0' ? (c >= '0' && c <= '9') : c == shape[k];
    }
    if (stamp) {
      out += "[T] ";
      i += shape.size();
    } else {
      out += log[i++];
    }
  }
  return out;
}

bool has_line(const std::string& log, const std::string& line) {
  return masked(log).find("[T] " + line + "\r\n") != std::string::npos;
}

const char* const kFiveFiles =
    u8R"({"shares": [{"surl": "1Five", "shareid": 7, "uk": 8,
    "download_captcha": "from:3",
    "tree": [{"name": "1.txt", "size": 1}, {"name": "2.txt", "size": 2},
             {"name": "3.txt", "size": 3}, {"name": "4.txt", "size": 4},
             {"name": "5.txt", "size": 5}]}]})";

TEST(ResolveJob, ExactLogOfAShareWithAFolder) {
  SimHarness sim(
      std::string(u8R"({"shares": [{"surl": "1Small", "shareid": 7, "uk": 8,
      "tree": [{"name": "文件夹", "children": [{"name": "b.txt", "size": 20}]},
               {"name": "a.txt", "size": 10}]}]})"));
  AppState state;
  ScriptedView view(state, sim, sim.link("1Small"));
  ASSERT_EQ(ResolveJob(state, view).run(), JobOutcome::success);
  const FileList files = state.files();
  ASSERT_EQ(files.size(), 3u);
  const std::string expected = "[T] 解析URL: " + sim.link("1Small") +
                               "\r\n"
                               "[T] 解析状态: 正在解析,请稍后...\r\n"
                               "[T] 解析状态: 成功\r\n"
                               "\r\n"
                               "[T] 文件总数: 3\r\n"
                               "\r\n"
                               "[T] 文件编号: 1\r\n"
                               "[T] 文件类型: 目录\r\n"
                               "[T] [文件夹] 目录下的文件列表\r\n"
                               "\r\n"
                               "[T] 文件编号: 2\r\n"
                               "[T] 文件类型: 文件\r\n"
                               "[T] 文件名称: a.txt\r\n"
                               "[T] 文件大小: 10\r\n"
                               "[T] 网盘路径: /a.txt\r\n"
                               "[T] 下载地址: " +
                               files[1].dlink +
                               "\r\n"
                               "\r\n"
                               "[T] 文件编号: 3\r\n"
                               "[T] 文件类型: 文件\r\n"
                               "[T] 文件名称: b.txt\r\n"
                               "[T] 文件大小: 20\r\n"
                               "[T] 网盘路径: /文件夹/b.txt\r\n"
                               "[T] 下载地址: " +
                               files[2].dlink + "\r\n\r\n\r\n" + std::string(88, '-') + "\r\n\r\n";
  EXPECT_EQ(masked(view.log), expected);
  EXPECT_EQ(kLogSeparator.size(), 94u);
  EXPECT_EQ(view.enabled_changes, (std::vector<bool>{false, true}));
  EXPECT_EQ(state.links_text(), files[1].dlink + "\r\n" + files[2].dlink + "\r\n");
  EXPECT_EQ(state.job_status, 0);
}

TEST(ResolveJob, ProtectedShareAsksUntilTheCodeIsRight) {
  SimHarness sim(
      std::string(u8R"({"shares": [{"surl": "1Lock", "shareid": 7, "uk": 8,
      "code": "ab12", "tree": [{"name": "a.txt", "size": 1}]}]})"));
  AppState state;
  ScriptedView view(state, sim, sim.link("1Lock"));
  view.codes = {"zzzz", "ab12"};
  ASSERT_EQ(ResolveJob(state, view).run(), JobOutcome::success);
  const std::string log = masked(view.log);
  // Three passes: no code, a wrong one, the right one.
  std::size_t passes = 0;
  for (std::size_t at = 0; (at = log.find("正在解析", at)) != std::string::npos; ++at)
    ++passes;
  EXPECT_EQ(passes, 3u);
  EXPECT_TRUE(has_line(view.log, "解析状态: 访问密码错误"));
  EXPECT_TRUE(has_line(view.log, "解析状态: 成功"));
  EXPECT_EQ(state.extraction_code, "ab12");
}

TEST(ResolveJob, ClosingTheCodePromptGivesUp) {
  SimHarness sim(SimHarness::demo_fixture());
  AppState state;
  ScriptedView view(state, sim, sim.link("1LockDemoK3vP"));
  EXPECT_EQ(ResolveJob(state, view).run(), JobOutcome::gave_up);
  EXPECT_TRUE(has_line(view.log, "解析状态: 用户主动放弃,输入提取密码"));
  EXPECT_EQ(masked(view.log).find("文件总数"), std::string::npos);
  EXPECT_EQ(view.enabled_changes.back(), true);
}

TEST(ResolveJob, DownloadCaptchaAtEntryThreeIsAnsweredAndResumed) {
  SimHarness sim{std::string(kFiveFiles)};
  AppState state;
  ScriptedView view(state, sim, sim.link("1Five"));
  ASSERT_EQ(ResolveJob(state, view).run(), JobOutcome::success);
  EXPECT_TRUE(has_line(view.log, "解析状态: 第[ 3 ]编号文件,下载验证码错误"));
  // For -20 the numbered line takes the place of the generic one.
  EXPECT_FALSE(has_line(view.log, "解析状态: 下载验证码错误"));
  EXPECT_EQ(view.captcha_prompts, 3);  // entries 3, 4 and 5 each want one
  for (const FileEntry& entry : state.files())
    EXPECT_FALSE(entry.dlink.empty());
}

TEST(ResolveJob, ClosingTheCaptchaPromptReportsWhatWasObtained) {
  SimHarness sim{std::string(kFiveFiles)};
  AppState state;
  ScriptedView view(state, sim, sim.link("1Five"));
  view.captchas_to_answer = 0;
  ASSERT_EQ(ResolveJob(state, view).run(), JobOutcome::gave_up);
  EXPECT_TRUE(has_line(view.log, "解析状态: 用户主动放弃,输入验证码"));
  const FileList files = state.files();
  ASSERT_EQ(files.size(), 5u);
  EXPECT_TRUE(has_line(view.log, "下载地址: " + files[0].dlink));
  EXPECT_TRUE(has_line(view.log, "下载地址: " + files[1].dlink));
  const std::string log = masked(view.log);
  std::size_t fallbacks = 0;
  for (std::size_t at = 0;
       (at = log.find("下载地址: 用户主动放弃解析或解析失败", at)) != std::string::npos; ++at) {
    ++fallbacks;
  }
  EXPECT_EQ(fallbacks, 3u);
}

TEST(ResolveJob, InvalidLinkReportsOnlyItsMessage) {
  SimHarness sim(SimHarness::demo_fixture());
  AppState state;
  ScriptedView view(state, sim, sim.link("1Gone"));
  EXPECT_EQ(ResolveJob(state, view).run(), JobOutcome::failure);
  EXPECT_EQ(masked(view.log), "[T] 解析URL: " + sim.link("1Gone") +
                                  "\r\n[T] 解析状态: 正在解析,请稍后...\r\n"
                                  "[T] 解析状态: 自定义错误代码,该链接已失效\r\n" +
                                  kLogSeparator);
  EXPECT_EQ(state.job_status, -997);
}

TEST(ResolveJob, SecondJobReportsOnlyItsOwnShare) {
  SimHarness sim(SimHarness::demo_fixture());
  AppState state;
  ScriptedView first(state, sim, sim.link("1PubDemoXq7Ra"));
  ASSERT_EQ(ResolveJob(state, first).run(), JobOutcome::success);
  ScriptedView second(state, sim, sim.link("1CapDemoW9zT"));
  ASSERT_EQ(ResolveJob(state, second).run(), JobOutcome::success);
  EXPECT_TRUE(has_line(second.log, "文件总数: 3"));
  EXPECT_FALSE(has_line(second.log, "文件编号: 4"));
  EXPECT_EQ(state.files().size(), 3u);
  // The first job's cookies did not travel into the second.
  EXPECT_EQ(masked(second.log).find("说明 readme.txt"), std::string::npos);
}

TEST(ResolveJob, PastedShareMessageResolvesTheLinkFoundInIt) {
  SimHarness sim(SimHarness::demo_fixture());
  AppState state;
  const std::string link = sim.link("1PubDemoXq7Ra");
  ScriptedView view(state, sim, "链接: " + link + " 提取码: ab12 复制这段内容");
  ASSERT_EQ(ResolveJob(state, view).run(), JobOutcome::success);
  EXPECT_TRUE(has_line(view.log, "解析URL: " + link));
  EXPECT_EQ(state.suggested_code, "ab12");
}

TEST(ResolveJob, ACodeFromThePastedMessageIsOfferedUntilTheServiceRefusesIt) {
  SimHarness sim(SimHarness::demo_fixture());
  AppState state;
  ScriptedView view(state, sim, "链接: " + sim.link("1LockDemoK3vP") + " 提取码: zzzz");
  view.codes = {"zzzz", "8k2p"};
  ASSERT_EQ(ResolveJob(state, view).run(), JobOutcome::success);
  EXPECT_EQ(view.offered, (std::vector<std::string>{"zzzz", ""}));
}

}  // namespace
}  // namespace sharelink
