// The main window's logic through a fake view: whole jobs against the
// simulator, as the window runs them, the job's thread and all.

#include "app/desktop/main_presenter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "app/app_texts.h"
#include "app/desktop/desktop_job_view.h"
#include "desktop/fake_loop.h"
#include "e2e/sim_harness.h"

namespace sharelink {
namespace {

// What the presenter told the window, in order.
class FakeMainView : public MainView {
 public:
  explicit FakeMainView(const AppState& state) : state_(state) {}

  std::string url;
  std::vector<std::string> events;
  std::string log;
  bool timer = false;
  std::string last_caption;

  std::string url_text() const override { return url; }
  void set_input_enabled(bool enabled) override {
    // A press on an enabled 解析 must find the job slot free.
    events.push_back(std::string(enabled ? "enable" : "disable") +
                     (enabled && state_.job_running ? " while claimed" : ""));
  }
  void set_caption(const std::string& caption) override { last_caption = caption; }
  void append_log(const std::string& text) override { log += text; }
  void clear_log() override {
    log.clear();
    events.push_back("clear");
  }
  bool schedule(std::chrono::milliseconds) override { return timer = true; }
  void put_on_clipboard(const std::string& text) override { events.push_back("clipboard " + text); }
  void show_message(const std::string& text, const std::string&) override {
    events.push_back("message " + text);
  }
  // Every prompt is closed by its close box at once.
  void open_extraction_code_prompt(std::function<void()> on_closed) override { on_closed(); }
  void open_captcha_prompt(std::function<void()> on_closed) override { on_closed(); }
  void close_all() override { events.push_back("close"); }

 private:
  const AppState& state_;
};

struct JobCase {
  const char* name;
  const char* surl;  // nullptr: an empty box
  const char* status;
  int links;
};

void PrintTo(const JobCase& row, std::ostream* out) {
  *out << row.name;
}

class MainPresenterJob : public ::testing::TestWithParam<JobCase> {
 protected:
  // Plays the main thread until the view has seen what it waits for.
  bool run_until(const std::function<bool()>& seen) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!seen()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (view.timer) {
        view.timer = false;
        presenter.timer_fired();
      }
      loop.run_one(std::chrono::milliseconds(10));
    }
    return true;
  }
  bool ended() { return !view.events.empty() && view.events.back().rfind("enable", 0) == 0; }

  testing::SimHarness sim{testing::SimHarness::demo_fixture()};
  AppState state;
  FakeLoop loop;
  UiBridge bridge{loop.post()};
  LogQueue queue;
  DesktopJobView job_view{bridge, queue};
  JobLauncher jobs{state, job_view};
  FakeMainView view{state};
  MainPresenter presenter{state, jobs, bridge, queue, view, nullptr};
};

TEST_P(MainPresenterJob, RunsWithTheControlsOffAndCopiesWhatItFound) {
  const JobCase& row = GetParam();
  job_view.set_window(&presenter);
  view.url = row.surl ? sim.link(row.surl) : "";
  presenter.parse_clicked();
  presenter.parse_clicked();  // the job holds its slot: no second one
  ASSERT_TRUE(run_until([&] { return ended(); })) << ::testing::PrintToString(view.events);
  EXPECT_EQ(view.events.front(), "disable");
  EXPECT_EQ(view.events.back(), "enable");
  EXPECT_TRUE(view.last_caption.empty() || view.last_caption == kMainCaption);
  EXPECT_NE(view.log.find("] 解析状态: " + std::string(row.status) + "\r\n"), std::string::npos)
      << view.log;
  EXPECT_EQ(view.log.find("解析URL: "), 22u);
  EXPECT_EQ(view.log.rfind(std::string(88, '-')) + 88 + 4, view.log.size());

  // 复制 once every line is shown: the links, one a line, and the message.
  const std::size_t shown = view.events.size();
  presenter.copy_clicked();
  ASSERT_EQ(view.events.size(), shown + 2);
  const std::string copied = view.events[shown];
  int lines = 0;
  for (std::size_t at = copied.find("\r\n"); at != std::string::npos;
       at = copied.find("\r\n", at + 2))
    ++lines;
  EXPECT_EQ(lines, row.links) << copied;
  EXPECT_EQ(view.events[shown + 1], std::string("message ") + kCopiedMessage);

  presenter.clear_clicked();
  EXPECT_EQ(view.log, "");
  presenter.close_clicked();
  EXPECT_EQ(view.events.back(), "close");
  EXPECT_TRUE(bridge.closed());
  EXPECT_TRUE(jobs.wait_idle(std::chrono::seconds(5)));
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, MainPresenterJob,
    ::testing::Values(JobCase{"empty_box", nullptr, "自定义错误代码,网络请求失败", 0},
                      JobCase{"public_share", "1PubDemoXq7Ra", "成功", 8},
                      JobCase{"code_prompt_closed", "1LockDemoK3vP", "用户主动放弃,输入提取密码",
                              0}),
    [](const ::testing::TestParamInfo<JobCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sharelink
