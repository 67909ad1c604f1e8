#include "app/desktop/ui_bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include "app/desktop/job_launcher.h"
#include "desktop/fake_loop.h"

namespace sharelink {
namespace {

using namespace std::chrono_literals;

TEST(UiBridge, CallsRunOnTheMainThreadInOrderAndReturnTheirResults) {
  FakeLoop loop;
  UiBridge bridge(loop.post());
  std::vector<int> seen;  // touched by the main thread only
  std::vector<std::string> results;
  const std::thread::id main_id = std::this_thread::get_id();
  std::atomic<bool> on_main{true};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      results.push_back(bridge
                            .run([&, i] {
                              on_main = on_main && std::this_thread::get_id() == main_id;
                              seen.push_back(i);
                              return std::to_string(i * 2);
                            })
                            .value_or("lost"));
    }
  });
  for (int i = 0; i < 50; ++i)
    ASSERT_TRUE(loop.run_one());
  worker.join();
  EXPECT_TRUE(on_main);
  ASSERT_EQ(seen.size(), 50u);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(seen[i], i);
    EXPECT_EQ(results[i], std::to_string(i * 2));
  }
}

TEST(UiBridge, ACallFinishedLaterKeepsTheWorkerWaitingUntilThen) {
  FakeLoop loop;
  UiBridge bridge(loop.post());
  std::shared_ptr<UiCall> open_prompt;
  std::atomic<bool> returned{false};
  std::optional<std::string> answer;
  std::thread worker([&] {
    answer = bridge.call([&](const std::shared_ptr<UiCall>& call) { open_prompt = call; });
    returned = true;
  });
  ASSERT_TRUE(loop.run_one());
  ASSERT_TRUE(open_prompt);
  EXPECT_FALSE(returned);
  open_prompt->finish("r5kw");
  open_prompt->finish("later calls change nothing");
  worker.join();
  EXPECT_EQ(answer, "r5kw");
}

TEST(UiBridge, ClosingReleasesAWaitingWorkerAndStopsLaterCalls) {
  FakeLoop loop;
  UiBridge bridge(loop.post());
  std::shared_ptr<UiCall> open_prompt;
  std::optional<std::string> answer = "unset";
  std::thread worker([&] {
    answer = bridge.call([&](const std::shared_ptr<UiCall>& call) { open_prompt = call; });
  });
  ASSERT_TRUE(loop.run_one());
  bridge.close();
  worker.join();
  EXPECT_EQ(answer, std::nullopt);
  // The prompt closing afterwards finds nobody waiting.
  open_prompt->finish("too late");

  // A call after closing neither posts nor waits.
  bool ran = false;
  EXPECT_EQ(bridge.run([&] {
    ran = true;
    return std::string("x");
  }),
            std::nullopt);
  EXPECT_EQ(loop.pending(), 0u);
  EXPECT_FALSE(ran);
}

TEST(UiBridge, ARequestStillQueuedWhenClosingDoesNotRun) {
  FakeLoop loop;
  UiBridge bridge(loop.post());
  std::atomic<bool> ran{false};
  std::thread worker([&] {
    bridge.run([&] {
      ran = true;
      return std::string();
    });
  });
  ASSERT_TRUE(loop.wait_pending());
  bridge.close();
  worker.join();
  ASSERT_TRUE(loop.run_one());  // the toolkit still delivers it
  EXPECT_FALSE(ran);
}

TEST(UiBridge, AFullQueueDelaysARequestButDoesNotLoseIt) {
  FakeLoop loop;
  UiBridge bridge(loop.post());
  loop.refuse_next(3);
  std::optional<std::string> result;
  std::thread worker([&] { result = bridge.run([] { return std::string("kept"); }); });
  ASSERT_TRUE(loop.run_one());
  worker.join();
  EXPECT_EQ(result, "kept");
}

// A view whose first read blocks until the test lets it go, so a job can be
// held running.
class HeldView : public JobView {
 public:
  std::string read_url() override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++reads_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
    return "";
  }
  void set_input_enabled(bool) override {}
  void append_log(const std::string&) override {}
  void show_extraction_code_prompt() override {}
  void show_captcha_prompt() override {}

  void wait_for_read() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return reads_ > 0; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int reads_ = 0;
  bool released_ = false;
};

TEST(JobLauncher, OneJobAtATime) {
  AppState state;
  HeldView view;
  JobLauncher jobs(state, view);
  ASSERT_TRUE(jobs.start());
  // A second press before the first job could disable anything.
  EXPECT_FALSE(jobs.start());
  view.wait_for_read();
  EXPECT_FALSE(jobs.start());
  EXPECT_FALSE(jobs.wait_idle(50ms));
  view.release();
  ASSERT_TRUE(jobs.wait_idle(10s));
  EXPECT_TRUE(jobs.start());
  ASSERT_TRUE(jobs.wait_idle(10s));
}

}  // namespace
}  // namespace sharelink
