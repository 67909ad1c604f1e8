// The parse button while a job runs: it reads 停止, stops the job at once and
// closes the prompt the job waits on; afterwards 解析 starts the next job.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/desktop/layout.h"
#include "gui/gui_app.h"
#include "sim/knobs.h"

namespace sharelink::gui_testing {
namespace {

class StopTest : public GuiApp {
  // The demo share of about 270 files then takes seconds, with requests in
  // flight when 停止 is pressed.
  void configure(sim::Fixture& fixture) override { fixture.knobs.latency_ms = 150; }

 protected:
  // The middle of a control of the main window: its text, and no focus frame.
  std::vector<unsigned long> middle_of(const layout::Box& box) {
    return client_pixels(x(), main_window(), box.x + 10, box.y + 8, box.w - 20, box.h - 16);
  }
  // Whether it shows text as an enabled control does: some pixel near black.
  bool dark_text(const layout::Box& box) {
    const std::vector<unsigned long> pixels = middle_of(box);
    return std::any_of(pixels.begin(), pixels.end(),
                       [](unsigned long pixel) { return (pixel & 0xc0c0c0) == 0; });
  }
  long link_requests() {
    const std::vector<sim::LogEntry> requests = sim().requests();
    return std::count_if(requests.begin(), requests.end(),
                         [](const sim::LogEntry& entry) { return entry.endpoint == "download"; });
  }
};

TEST_F(StopTest, StopsABigShareAtOnceThenTheNextJobInItsPrompt) {
  const TopWindow window = main_window();
  resolve(link("1DeepDemoM4nB"));
  ASSERT_TRUE(wait_until([&] { return link_requests() >= 4; }, 20s));
  // 停止, enabled; the URL box greyed.
  const std::vector<unsigned long> stop = middle_of(layout::kParseButton);
  EXPECT_TRUE(dark_text(layout::kParseButton));
  EXPECT_FALSE(dark_text(layout::kUrlBox));
  screenshot(window, "stop-button");
  click(window, kParseButton);
  ASSERT_TRUE(wait_job_end());
  EXPECT_NE(log().find("] 解析状态: 用户主动停止\r\n"), std::string::npos);
  EXPECT_NE(log().find("] 文件总数: "), std::string::npos);
  EXPECT_LT(link_requests(), 100);
  // 解析, and both enabled.
  EXPECT_TRUE(wait_until(
      [&] {
        return middle_of(layout::kParseButton) != stop && dark_text(layout::kParseButton) &&
               dark_text(layout::kUrlBox);
      },
      5s));

  // 解析 again: a job that waits on its prompt, which 停止 closes.
  resolve(link("1LockDemoK3vP"));
  wait_window(kCodeTitle);
  EXPECT_EQ(middle_of(layout::kParseButton), stop);
  click(window, kParseButton);
  EXPECT_TRUE(wait_until([&] { return !has_window(kCodeTitle); }, 20s));
  ASSERT_TRUE(wait_job_end(2));
  EXPECT_EQ(count_of(log(), "] 解析状态: 用户主动停止\r\n"), 2);
}

}  // namespace
}  // namespace sharelink::gui_testing
