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
  // The text in the middle of a control of the main window, clear of the focus
  // frame: its dark pixels, not the face, which a themed button shades with the
  // pointer over it and with the window's activation.
  std::vector<bool> text_of(const layout::Box& box) {
    const std::vector<unsigned long> pixels =
        client_pixels(x(), main_window(), box.x + 10, box.y + 8, box.w - 20, box.h - 16);
    std::vector<bool> text(pixels.size());
    std::transform(pixels.begin(), pixels.end(), text.begin(),
                   [](unsigned long pixel) { return (pixel & 0xc0c0c0) == 0; });
    return text;
  }
  // Whether it shows text as an enabled control does.
  bool dark_text(const layout::Box& box) {
    const std::vector<bool> text = text_of(box);
    return std::find(text.begin(), text.end(), true) != text.end();
  }
  // Whether the parse button shows the letters it showed then, allowing for
  // smoothed edges that fall the other side of the threshold on another face.
  bool parse_button_reads(const std::vector<bool>& then) {
    const std::vector<bool> now = text_of(layout::kParseButton);
    long differ = 0;
    for (std::size_t at = 0; at < now.size(); ++at)
      differ += now[at] != then[at];
    return differ * 10 <= std::count(then.begin(), then.end(), true);
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
  // 停止, enabled; the URL box greyed. A control caught between its erase and
  // its paint shows no text, hence the wait.
  std::vector<bool> stop;
  ASSERT_TRUE(wait_until(
      [&] {
        stop = text_of(layout::kParseButton);
        return std::count(stop.begin(), stop.end(), true) > 0 && !dark_text(layout::kUrlBox);
      },
      5s));
  screenshot(window, "stop-button");
  click(window, kParseButton);
  ASSERT_TRUE(wait_job_end());
  EXPECT_NE(log().find("] 解析状态: 用户主动停止\r\n"), std::string::npos);
  EXPECT_NE(log().find("] 文件总数: "), std::string::npos);
  EXPECT_LT(link_requests(), 100);
  // 解析, and both enabled.
  EXPECT_TRUE(wait_until(
      [&] {
        return !parse_button_reads(stop) && dark_text(layout::kParseButton) &&
               dark_text(layout::kUrlBox);
      },
      5s));

  // 解析 again: a job that waits on its prompt, which 停止 closes.
  resolve(link("1LockDemoK3vP"));
  wait_window(kCodeTitle);
  EXPECT_TRUE(wait_until([&] { return parse_button_reads(stop); }, 5s));
  click(window, kParseButton);
  EXPECT_TRUE(wait_until([&] { return !has_window(kCodeTitle); }, 20s));
  ASSERT_TRUE(wait_job_end(2));
  EXPECT_EQ(count_of(log(), "] 解析状态: 用户主动停止\r\n"), 2);
}

}  // namespace
}  // namespace sharelink::gui_testing
