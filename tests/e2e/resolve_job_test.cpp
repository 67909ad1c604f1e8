#include "app/resolve_job.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <set>

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
  // Called as the job reports how far it is; the job's thread.
  std::function<void(const ResolveProgress&)> on_progress;
  void show_progress(const ResolveProgress& progress) override {
    if (on_progress) on_progress(progress);
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

// One at a time: which request is the third is then which entry.
void one_at_a_time(AppState& state) {
  ResolveLimits limits;
  limits.parallel = 1;
  state.share_client.set_limits(limits);
}

TEST(ResolveJob, DownloadCaptchaAtEntryThreeIsAnsweredAndResumed) {
  SimHarness sim{std::string(kFiveFiles)};
  AppState state;
  one_at_a_time(state);
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
  one_at_a_time(state);
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

// Several requests at a time, retries, a stale page and the stop, on shares
// of the simulator with its knobs.
struct ParallelCase {
  const char* name;
  const char* share;  // fixture options of the share "1P" (its tree is added)
  std::vector<std::string> faults;
  int parallel;
  int stop_after_links;  // -1: never; 0: as soon as a folder is listed
  JobOutcome outcome;
  const char* status;               // the last status line
  int links;                        // links in the report; -1: whatever the stop left
  int captchas;                     // captcha prompts; -1: some
  bool stop_after_failure = false;  // stopped as a failed listing empties the list
};

void PrintTo(const ParallelCase& row, std::ostream* out) {
  *out << row.name;
}

// 30 files over a top level and folders two levels deep.
std::string parallel_fixture(const std::string& share_options) {
  std::string tree;
  for (int folder = 0; folder < 3; ++folder) {
    std::string files;
    for (int file = 0; file < 6; ++file) {
      files += std::string(file ? "," : "") + "{\"name\": \"f" + std::to_string(folder) + "-" +
               std::to_string(file) + ".bin\", \"size\": " + std::to_string(file + 1) + "}";
    }
    tree += "{\"name\": \"d" + std::to_string(folder) + "\", \"children\": [" + files +
            ", {\"name\": \"inner\", \"children\": [{\"name\": \"x" + std::to_string(folder) +
            ".bin\", \"size\": 9}]}]},";
  }
  for (int file = 0; file < 9; ++file)
    tree += "{\"name\": \"top" + std::to_string(file) + ".txt\", \"size\": 1},";
  tree.pop_back();
  return "{\"options\": {\"latency_ms\": 5}, \"shares\": [{\"surl\": \"1P\", \"shareid\": 7, "
         "\"uk\": 8" +
         std::string(share_options.empty() ? "" : ", ") + share_options + ", \"tree\": [" + tree +
         "]}]}";
}

class ParallelJob : public ::testing::TestWithParam<ParallelCase> {};

TEST_P(ParallelJob, EndsAsTheNetworkAndTheUserLet) {
  const ParallelCase& row = GetParam();
  sim::Fixture fixture;
  std::string error;
  ASSERT_TRUE(sim::parse_fixture(parallel_fixture(row.share), fixture, error)) << error;
  for (const std::string& fault : row.faults) {
    const auto rule = sim::parse_fault(fault, error);
    ASSERT_TRUE(rule) << error;
    fixture.knobs.faults.push_back(*rule);
  }
  fixture.quiet = true;
  SimHarness sim(std::move(fixture));
  AppState state;
  ResolveLimits limits;
  limits.parallel = row.parallel;
  limits.retry_delays_ms = {10, 30};
  state.share_client.set_limits(limits);
  ScriptedView view(state, sim, sim.link("1P"));
  ASSERT_TRUE(state.try_begin_job());
  if (row.stop_after_links >= 0) {
    view.on_progress = [&state, &row](const ResolveProgress& progress) {
      if (progress.folders_listed > 0 && progress.links_obtained >= row.stop_after_links) {
        state.request_stop();
      }
    };
  }
  if (row.stop_after_failure) {
    view.on_progress = [&state, listed = false](const ResolveProgress& progress) mutable {
      if (listed && progress.entries_found == 0) state.request_stop();
      listed = listed || progress.entries_found > 0;
    };
  }
  EXPECT_EQ(ResolveJob(state, view).run(), row.outcome);
  const std::string log = masked(view.log);
  const std::size_t last = log.rfind("[T] 解析状态: ");
  ASSERT_NE(last, std::string::npos) << log;
  EXPECT_EQ(log.substr(last, log.find("\r\n", last) - last),
            std::string("[T] 解析状态: ") + row.status)
      << log;
  // Every link obtained is in the report, and only those.
  const FileList files = state.files();
  int linked = 0;
  for (const FileEntry& entry : files) {
    if (entry.dlink.empty()) continue;
    ++linked;
    EXPECT_NE(log.find("下载地址: " + entry.dlink + "\r\n"), std::string::npos);
  }
  if (row.links >= 0) {
    EXPECT_EQ(linked, row.links);
  }
  if (row.captchas >= 0) {
    EXPECT_EQ(view.captcha_prompts, row.captchas);
  } else {
    EXPECT_GT(view.captcha_prompts, 0);
  }
  // A captcha's id goes out once; without captchas, faults or a stop no entry
  // is asked for twice.
  std::map<std::string, int> asked;
  std::set<std::string> ids;
  for (const sim::LogEntry& entry : sim.requests("download")) {
    const std::size_t at = entry.body.find("fid_list=%5B");
    ++asked[entry.body.substr(at, entry.body.find("%5D", at) - at)];
    const std::size_t id = entry.body.find("vcode_str=") + 10;
    const std::string vcode = entry.body.substr(id, entry.body.find('&', id) - id);
    if (!vcode.empty()) {
      EXPECT_TRUE(ids.insert(vcode).second) << vcode;
    }
  }
  if (*row.share == '\0' && row.faults.empty() && row.stop_after_links < 0) {
    for (const auto& item : asked)
      EXPECT_EQ(item.second, 1) << item.first;
  }
  if (row.parallel > 1 && row.stop_after_links < 0 && linked > 1) {
    EXPECT_GT(sim::max_in_flight(sim.requests(), "download"), 1u);
  }
  EXPECT_LE(sim::max_in_flight(sim.requests(), "download"), static_cast<std::size_t>(row.parallel));
}

const std::vector<std::string> kNone;

INSTANTIATE_TEST_SUITE_P(
    Jobs, ParallelJob,
    ::testing::Values(
        ParallelCase{"eight_at_a_time", "", kNone, 8, -1, JobOutcome::success, "成功", 30, 0},
        ParallelCase{"captcha_with_requests_in_flight", "\"download_captcha\": \"every:7\"", kNone,
                     4, -1, JobOutcome::success, "成功", 30, -1},
        // Eight at a time against a service that takes two: each captcha
        // demand halves the requests in flight, until two go at a time.
        ParallelCase{"halved_by_captchas", "\"max_download_in_flight\": 2", kNone, 8, -1,
                     JobOutcome::success, "成功", 30, 2},
        ParallelCase{"stale_page_fetched_again", "\"sign_expires_after\": 7", kNone, 4, -1,
                     JobOutcome::success, "成功", 30, 0},
        ParallelCase{"connection_closed_then_500_then_hang",
                     "",
                     {"download:close@3", "download:http500@5", "list:close@2", "page:http500@1"},
                     4,
                     -1,
                     JobOutcome::success,
                     "成功",
                     30,
                     0},
        ParallelCase{"three_failures_in_a_row",
                     "",
                     {"download:close@every1"},
                     4,
                     -1,
                     JobOutcome::failure,
                     "自定义错误代码,网络请求失败",
                     0,
                     0},
        ParallelCase{"a_failure_keeps_the_links_after_it",
                     "",
                     {"download:malformed@4"},
                     4,
                     -1,
                     JobOutcome::failure,
                     "自定义错误代码,JSON解析失败",
                     -1,
                     0},
        ParallelCase{"stopped_while_listing", "", kNone, 4, 0, JobOutcome::stopped, "用户主动停止",
                     0, 0},
        ParallelCase{"stopped_among_the_links", "", kNone, 4, 5, JobOutcome::stopped,
                     "用户主动停止", -1, 0},
        // The stop comes after the failure ended the listing: it is no stop.
        ParallelCase{"stopped_after_a_listing_failed",
                     "",
                     {"list:malformed@2"},
                     4,
                     -1,
                     JobOutcome::failure,
                     "自定义错误代码,JSON解析失败",
                     0,
                     0,
                     true}),
    [](const ::testing::TestParamInfo<ParallelCase>& info) {
      return std::string(info.param.name);
    });

// The log of a job k at a time is that of one at a time, time stamps aside
// and each link known by its file's id.
TEST(ParallelJobOrder, SameLogAsOneAtATime) {
  SimHarness sim(parallel_fixture(""));
  std::string logs[2];
  for (int k : {1, 8}) {
    AppState state;
    ResolveLimits limits;
    limits.parallel = k;
    state.share_client.set_limits(limits);
    ScriptedView view(state, sim, sim.link("1P"));
    ASSERT_EQ(ResolveJob(state, view).run(), JobOutcome::success);
    std::string& log = logs[k == 8];
    log = masked(view.log);
    const std::string label = "下载地址: ";
    for (std::size_t at = log.find(label); at != std::string::npos; at = log.find(label, at + 1)) {
      const std::size_t start = at + label.size();
      const std::size_t fid = log.find("fid=", start);
      log.replace(start, log.find("\r\n", start) - start,
                  log.substr(fid, log.find('&', fid) - fid));
    }
  }
  EXPECT_TRUE(logs[0] == logs[1]) << logs[1].substr(0, 2000);
  EXPECT_NE(logs[0].find("文件总数: 36"), std::string::npos);
}

}  // namespace
}  // namespace sharelink
