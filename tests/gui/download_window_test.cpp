// The window 下载 after a job, and the mends around it: Enter in the filter
// and URL boxes, 复制 with nothing to copy, resizing, and the settings kept
// from one start to the next.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "file_text.h"
#include "gui/gui_app.h"
#include "sim/file_content.h"
#include "sim/fixture.h"

namespace sharelink::gui_testing {
namespace {

namespace fs = std::filesystem;

const std::string kShare = "1PubDemoXq7Ra";

using testing::file_text;

// The folder SHARELINK_CHOOSE_FOLDER answers 下载 with, and xdg-open as a
// script that writes down the folder it was asked to show.
class DownloadTest : public GuiApp {
 protected:
  void environment(EnvChanges& env) override {
    folder_ = scratch() + u8"/下载到";
    fs::create_directories(folder_);
    env["SHARELINK_CHOOSE_FOLDER"] = program_path(folder_);
    const std::string bin = scratch() + "/bin";
    fs::create_directories(bin);
    std::ofstream(bin + "/xdg-open")
        << "#!/bin/sh\nprintf '%s' \"$1\" > '" << scratch() << "/opened'\n";
    chmod((bin + "/xdg-open").c_str(), 0755);
    const char* path = std::getenv("PATH");
    env["PATH"] = bin + ":" + (path ? path : "/usr/bin:/bin");
  }

  // Resolves the demo share keeping the files pattern matches: 取消选中 with
  // the filter empty, then the pattern and Enter, which applies it as 选中
  // does and neither confirms nor asks for a link; then 确定.
  void resolve_choosing(const std::string& pattern) {
    click(main_window(), centre(layout::kChooseFirstBox));
    resolve(link(kShare));
    const TopWindow choice = wait_window(kChoiceTitle);
    click(choice, centre(layout::kUncheckMatching));
    fill(choice, centre(layout::kFilterBox), pattern);
    const auto summary = [&] {
      const layout::Box box = layout::kChoiceSummary;
      return client_pixels(x(), choice, box.x, box.y, box.w, box.h);
    };
    const std::vector<unsigned long> unchecked = summary();
    key("Return");
    EXPECT_TRUE(wait_until([&] { return summary() != unchecked; }, 10s)) << "the count stayed";
    EXPECT_TRUE(has_window(kChoiceTitle));
    EXPECT_FALSE(has_window(kMessageTitle));
    EXPECT_EQ(count_of(log(), "下载地址: "), 0);
    click(choice, centre(layout::kChoiceOk));
    ASSERT_TRUE(wait_job_end());
  }

  TopWindow open_download_window() {
    click(main_window(), centre(layout::kDownloadButton));
    return wait_window(kDownloadTitle);
  }

  // The file below the share's top: its place in the folder and its bytes.
  std::string local(const std::string& path) const { return folder_ + "/" + path; }
  ::testing::AssertionResult holds_its_bytes(const std::string& path) {
    std::string error;
    sim::Fixture fixture;
    sim::load_fixture_file(SHARELINK_SOURCE_DIR "/sim/fixtures/demo.json", fixture, error);
    const sim::Share* share = fixture.find_surl(kShare);
    const sim::Entry* entry = share ? share->find_path(share->root + "/" + path) : nullptr;
    if (!entry) return ::testing::AssertionFailure() << "no entry " << path;
    std::ifstream in(local(path), std::ios::binary);
    std::string chunk(1 << 20, '\0');
    std::uint64_t at = 0;
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
      const auto got = static_cast<std::size_t>(in.gcount());
      if (chunk.compare(0, got, sim::file_bytes(entry->fs_id, at, got)) != 0)
        return ::testing::AssertionFailure() << path << " differs in the MiB at " << at;
      at += got;
    }
    if (at != entry->size) return ::testing::AssertionFailure() << path << " holds " << at;
    return ::testing::AssertionSuccess();
  }

  // Whether a button shows its caption dark, as an enabled one does.
  bool enabled(const TopWindow& window, const layout::Box& box) {
    const std::vector<unsigned long> pixels =
        client_pixels(x(), window, box.x + 10, box.y + 8, box.w - 20, box.h - 16);
    return std::any_of(pixels.begin(), pixels.end(),
                       [](unsigned long pixel) { return (pixel & 0xc0c0c0) == 0; });
  }

  std::string folder_;
};

TEST_F(DownloadTest, DownloadsTheChosenFilesThenOpensTheirFolder) {
  resolve_choosing("**/*.txt");
  EXPECT_EQ(count_of(log(), "下载地址: http"), 4);
  const TopWindow download = open_download_window();
  expect_layout(download, layout::kDownloadWidth, layout::kDownloadHeight, {layout::kDownloadList});
  screenshot(download, "download-window-ready");
  click(download, centre(layout::kDownloadStart));
  const std::vector<std::string> files = {u8"说明 readme.txt", u8"照片 & 视频 #1/a);b.txt",
                                          u8"照片 & 视频 #1/plus+sign 100%.txt",
                                          u8"照片 & 视频 #1/深层 目录/空文件.txt"};
  for (const std::string& file : files) {
    EXPECT_TRUE(wait_until([&] { return fs::exists(local(file)); }, 20s)) << file;
    EXPECT_TRUE(holds_its_bytes(file));
  }
  // The main log keeps the job's texts alone.
  EXPECT_EQ(count_of(log(), "下载完成"), 0);
  // The download has ended once 停止 is off: closing asks nothing then.
  EXPECT_TRUE(wait_until([&] { return !enabled(download, layout::kDownloadStop); }, 10s));
  screenshot(download, "download-window-done");
  // Under Wine the shell opens folders its own way.
  if (gui_program().windows) return;
  click(download, centre(layout::kDownloadOpenFolder));
  EXPECT_TRUE(wait_until([&] { return file_text(scratch() + "/opened") == folder_; }, 10s));
}

class SlowDownloadTest : public DownloadTest {
  // 工具 tool.exe, 50 MiB, then takes seconds over the window's connections.
  void configure(sim::Fixture& fixture) override { fixture.knobs.content.rate = 1 << 20; }
};

TEST_F(SlowDownloadTest, StopKeepsThePartialFileAndResumeGoesOnFromIt) {
  resolve_choosing("*.exe");
  const TopWindow download = open_download_window();
  click(download, centre(layout::kDownloadStart));
  ASSERT_TRUE(wait_until([&] { return sim().content_bytes_served() > (8u << 20); }, 20s));
  click(download, centre(layout::kDownloadStop));
  ASSERT_TRUE(wait_until([&] { return enabled(download, layout::kDownloadResume); }, 20s));
  const std::uint64_t before_stop = sim().content_bytes_served();
  const std::string file = u8"工具 tool.exe";
  EXPECT_FALSE(fs::exists(local(file)));
  EXPECT_TRUE(fs::exists(local(file + ".part")));
  screenshot(download, "download-window-stopped");

  click(download, centre(layout::kDownloadResume));
  ASSERT_TRUE(wait_until([&] { return fs::exists(local(file)); }, 60s));
  EXPECT_TRUE(holds_its_bytes(file));
  EXPECT_TRUE(wait_until([&] { return !enabled(download, layout::kDownloadStop); }, 10s));
  // Not from byte 0 again: what came before the stop was kept.
  EXPECT_LT(sim().content_bytes_served(), (50u << 20) + before_stop / 2);
}

using MendsTest = GuiApp;

TEST_F(MendsTest, CopyWithNothingKeepsTheClipboardAndEnterInTheUrlBoxResolves) {
  const TopWindow window = main_window();
  const std::string mine = scratch() + "/clipboard";
  std::ofstream(mine) << "the user's own text";
  run_tool({"xclip", "-selection", "clipboard", "-i", mine});
  click(window, kCopyButton);
  screenshot(wait_window(kMessageTitle), "copy-nothing-message");
  dismiss_message(kMessageTitle);
  EXPECT_EQ(clipboard(), "the user's own text");

  fill(window, kUrlBox, link(kShare));
  key("Return");
  ASSERT_TRUE(wait_job_end());
  EXPECT_EQ(count_of(log(), "] 解析URL: "), 1);
  screenshot(main_window(), "main-window-status-bar");
}

TEST_F(MendsTest, TheLogBoxTakesTheRoomAndTheButtonsKeepToTheRight) {
  const TopWindow opened = main_window();
  struct Size {
    int dw, dh;  // at 96 DPI, from the size the window opens at
  };
  for (const Size size : {Size{200, 150}, Size{0, -layout::kStatusHeight}, Size{0, 0}}) {
    SCOPED_TRACE(::testing::Message() << size.dw << " x " << size.dh);
    const int width = opened.width + at_dpi(size.dw), height = opened.height + at_dpi(size.dh);
    resize_window(main_window(), width, height);
    TopWindow resized;
    ASSERT_TRUE(wait_until(
        [&] {
          resized = main_window();
          return resized.width == width && resized.height == height;
        },
        10s));
    const layout::MainBoxes boxes = layout::main_boxes(size.dw, size.dh);
    expect_boxes(resized, {log_box_and_row(boxes), boxes.parse, boxes.copy});
    if (size.dw > 0) screenshot(resized, "main-window-larger");
  }
  // The X server leaves the smallest size to a window manager, which takes it
  // from the window's hints.
  if (gui_program().windows) return;
  const auto smallest = x().min_size(opened.id);
  ASSERT_TRUE(smallest.has_value());
  EXPECT_EQ(smallest->first, at_dpi(layout::kMainWidth - gui_program().layout_width));
  EXPECT_EQ(smallest->second, at_dpi(layout::kMainHeight - gui_program().layout_height));
}

TEST_F(MendsTest, SizePlaceAndChooseFirstAreKeptForTheNextStart) {
  const TopWindow opened = main_window();
  click(opened, centre(layout::kChooseFirstBox));
  resize_window(opened, opened.width + 100, opened.height + 80);
  move_window(main_window(), 120, 90);
  TopWindow moved;
  ASSERT_TRUE(wait_until(
      [&] {
        moved = main_window();
        return moved.x == 120 && moved.y == 90 && moved.width == opened.width + 100;
      },
      10s));
  restart();
  const TopWindow again = main_window();
  // Kept in 96-DPI pixels: at another DPI a size may come back a pixel off.
  const int slack = gui_program().dpi == 96 ? 0 : 1;
  EXPECT_NEAR(again.x, moved.x, slack);
  EXPECT_NEAR(again.y, moved.y, slack);
  EXPECT_NEAR(again.width, moved.width, slack);
  EXPECT_NEAR(again.height, moved.height, slack);
  // 先选择文件 stayed on: the job asks which files first. (The parse button
  // moved with the right edge.)
  fill(again, kUrlBox, link(kShare));
  key("Return");
  x().press_close_box(wait_window(kChoiceTitle).id);
  ASSERT_TRUE(wait_job_end());
}

}  // namespace
}  // namespace sharelink::gui_testing
