// The main window: layout, a job's log, the copy and clear buttons, the parse
// guard, closing, and starting without a display.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>

#include "gui/gui_app.h"
#include "sim/fixture.h"
#include "sim/knobs.h"
#include "text/text_encoding.h"

namespace sharelink::gui_testing {
namespace {

// Every download link of the log's report, each followed by CR LF: what the
// copy button must put on the clipboard.
std::string links_in(const std::string& log) {
  const std::string label = "下载地址: ";
  std::string links;
  for (std::size_t at = log.find(label); at != std::string::npos; at = log.find(label, at + 1)) {
    const std::size_t start = at + label.size();
    const std::string link = log.substr(start, log.find("\r\n", start) - start);
    if (link.rfind("http", 0) == 0) links += link + "\r\n";
  }
  return links;
}

using MainWindowTest = GuiApp;

TEST_F(MainWindowTest, ResolvesAShareThenCopiesAndClears) {
  const TopWindow window = main_window();
  expect_layout(window, layout::kMainWidth, layout::kMainOpenHeight,
                {layout::kUrlBox, log_box_and_row(layout::main_boxes(0, 0))});
  EXPECT_EQ(read_box(window, kUrlBox), u8"复制链接");

  // Copy before any job: the message, and the clipboard keeps what the box's
  // copy put there.
  click(window, kCopyButton);
  screenshot(wait_window(kMessageTitle), "copy-message");
  dismiss_message(kMessageTitle);
  EXPECT_EQ(clipboard(), u8"复制链接");

  const std::string share = link("1PubDemoXq7Ra");
  resolve(share);
  ASSERT_TRUE(wait_job_end());
  const std::string text = log();
  EXPECT_NE(text.find("] 解析URL: " + share + "\r\n"), std::string::npos);
  EXPECT_NE(text.find("] 解析状态: 成功\r\n"), std::string::npos);
  EXPECT_NE(text.find("] 文件总数: 10\r\n"), std::string::npos);
  EXPECT_EQ(count_of(text, "\n"), count_of(text, "\r\n"));
  screenshot(main_window(), "main-window");

  // The box shows the same text, in UTF-8 and without the CRs.
  EXPECT_EQ(read_box(window, kLogBox), replace_all(gbk_to_utf8(text), "\r", ""));

  // Escape does not close the window: the copy button still answers below.
  key("Escape");

  click(window, kCopyButton);
  dismiss_message(kMessageTitle);
  const std::string links = links_in(text);
  EXPECT_EQ(count_of(links, "\r\n"), 8);
  EXPECT_EQ(clipboard(), links);

  click(window, kClearButton);
  EXPECT_TRUE(wait_until([&] { return log().empty(); }, 10s));
  // The list of the last job stays for the copy button.
  click(window, kCopyButton);
  dismiss_message(kMessageTitle);
  EXPECT_EQ(clipboard(), links);
}

class SlowShareTest : public GuiApp {
  void configure(sim::Fixture& fixture) override {
    fixture.knobs.endpoint_latency_ms[static_cast<std::size_t>(sim::Endpoint::page)] = 400;
  }
};

// A press while the job runs would stop it (stop_test.cpp).
TEST_F(SlowShareTest, AMessageBoxWhileAJobRunsHoldsUpNoLine) {
  const TopWindow window = main_window();
  fill(window, kUrlBox, link("1PubDemoXq7Ra"));
  click(window, kParseButton);
  // A message box open while the job runs holds up none of its lines.
  click(window, kCopyButton);
  wait_window(kMessageTitle);
  ASSERT_TRUE(wait_job_end());
  dismiss_message(kMessageTitle);
  EXPECT_EQ(count_of(log(), "解析URL: "), 1);
  // The button works again once the job has ended.
  click(window, kParseButton);
  EXPECT_TRUE(wait_job_end(2));
}

class BigShareTest : public GuiApp {
  void configure(sim::Fixture& fixture) override {
    std::string error;
    ASSERT_TRUE(sim::add_generated_share(fixture, "1BigGui",
                                         {static_cast<std::uint64_t>(files()), 2, 4}, error))
        << error;
    // Slow enough listings that the progress caption can be seen.
    fixture.knobs.endpoint_latency_ms[static_cast<std::size_t>(sim::Endpoint::list)] = 50;
  }

 protected:
  // Wine's WinHTTP writes a POST's head and body in two sends, so each one
  // waits out the server's delayed acknowledgement (about 45 ms): a share a
  // tenth the size keeps the Windows run within the same time.
  static int files() { return gui_program().windows ? 200 : 2000; }
};

TEST_F(BigShareTest, AReportOfThousandsOfLinesArrivesWholeAndInOrder) {
  const TopWindow window = main_window();
  resolve(link("1BigGui"));
  // The caption counts links while the job runs, and is plain again after it.
  const auto caption_starts = [&](const std::string& start) {
    return wait_until(
        [&] {
          const std::vector<TopWindow> shown = x().windows(app().pid());
          return std::any_of(shown.begin(), shown.end(),
                             [&](const TopWindow& w) { return w.title.rfind(start, 0) == 0; });
        },
        20s);
  };
  EXPECT_TRUE(caption_starts(kProgressTitle));
  ASSERT_TRUE(wait_job_end());
  EXPECT_TRUE(caption_starts(kMainTitle));

  const std::string text = log();
  const std::size_t total = text.find("] 文件总数: ");
  ASSERT_NE(total, std::string::npos);
  const int entries = std::stoi(text.substr(total + std::string("] 文件总数: ").size()));
  EXPECT_GT(entries, files());
  std::size_t at = total;
  for (int number = 1; number <= entries; ++number) {
    at = text.find("] 文件编号: " + std::to_string(number) + "\r\n", at);
    ASSERT_NE(at, std::string::npos) << "entry " << number << " missing or out of order";
  }
  EXPECT_EQ(count_of(text, "下载地址: http"), files());
  EXPECT_EQ(text.size() - text.rfind("\r\n\r\n"), 4u);
  EXPECT_EQ(text.find("] 文件编号: "), text.find("] 文件编号: 1\r\n"));
  // The copy button waits for the box to be complete, then copies every link.
  click(window, kCopyButton);
  dismiss_message(kMessageTitle);
  EXPECT_EQ(count_of(clipboard(), "\r\n"), files());
}

class StalledShareTest : public GuiApp {
  void configure(sim::Fixture& fixture) override {
    fixture.knobs.faults.push_back({sim::Endpoint::page, sim::FaultKind::hang, 0, 0});
    fixture.knobs.hang_ms = 60000;
  }
};

TEST_F(StalledShareTest, ClosingDuringARequestEndsTheProgramAtOnce) {
  program_ends_itself();
  resolve(link("1PubDemoXq7Ra"));
  ASSERT_TRUE(wait_until([&] { return !sim().requests().empty(); }, 20s));
  x().press_close_box(main_window().id);
  EXPECT_EQ(app().wait(10s), 0);
}

TEST(SharelinkProgram, WithoutADisplaySaysSoAndExits1) {
  if (gui_program().windows) GTEST_SKIP() << "a Windows program always has a desktop";
  const std::string err = output_dir() + "/no-display.stderr";
  for (const std::optional<std::string>& display :
       {std::optional<std::string>(), std::optional<std::string>(":987")}) {
    Process app;
    ASSERT_TRUE(app.start({SHARELINK_GUI_EXE}, {{"DISPLAY", display}}, "", err));
    EXPECT_EQ(app.wait(20s), 1);
    std::ifstream in(err);
    std::string message((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(message.find("cannot open the X display"), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace sharelink::gui_testing
