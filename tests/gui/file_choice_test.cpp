// The window "选择文件" that the check box 先选择文件 puts between a share's
// listing and its first link request.

#include <gtest/gtest.h>

#include "app/desktop/layout.h"
#include "gui/gui_app.h"

namespace sharelink::gui_testing {
namespace {

constexpr auto npos = std::string::npos;

// The demo share: at the top 说明 readme.txt, the folder 照片 & 视频 #1 (five
// files below it), big 64bit id.bin and 工具 tool.exe.
class FileChoiceTest : public GuiApp {
 protected:
  // Turns 先选择文件 on and resolves the demo share: the choice is open before
  // any link was asked for.
  TopWindow choose_in_demo_share() {
    click(main_window(), centre(layout::kChooseFirstBox));
    resolve(link("1PubDemoXq7Ra"));
    const TopWindow choice = wait_window(kChoiceTitle);
    EXPECT_EQ(link_requests(), 0);
    return choice;
  }

  int link_requests() {
    int count = 0;
    for (const sim::LogEntry& entry : sim().requests())
      count += entry.endpoint == "download" ? 1 : 0;
    return count;
  }
};

TEST_F(FileChoiceTest, AnUncheckedFolderGetsNoLinks) {
  const TopWindow choice = choose_in_demo_share();
  expect_layout(choice, layout::kChoiceWidth, layout::kChoiceHeight);
  // Row 0's name, then the folder below it: open it and uncheck the first
  // entry in it, which leaves the folder partly checked; back on the folder,
  // Space checks it whole, and again unchecks all five files.
  click(choice, {layout::kChoiceList.x + 200, layout::kChoiceList.y + 9});
  for (const char* name : {"Down", "Right", "Down", "space"})
    key(name);
  screenshot(choice, "file-choice-window");
  for (const char* name : {"Left", "space", "space"})
    key(name);
  click(choice, centre(layout::kChoiceOk));
  ASSERT_TRUE(wait_job_end());
  EXPECT_FALSE(has_window(kChoiceTitle));
  const std::string text = log();
  EXPECT_NE(text.find("] 文件总数: 3\r\n"), npos);
  EXPECT_EQ(text.find("照片"), npos);
  EXPECT_EQ(count_of(text, "下载地址: "), 3);
  EXPECT_EQ(count_of(text, "下载地址: http"), 3);
  EXPECT_EQ(link_requests(), 3);
}

TEST_F(FileChoiceTest, NothingCheckedIsRefusedAndTheCloseBoxGivesUp) {
  const TopWindow choice = choose_in_demo_share();
  // The filter is empty: 取消选中 unchecks every file.
  click(choice, centre(layout::kUncheckMatching));
  click(choice, centre(layout::kChoiceOk));
  screenshot(wait_window(kMessageTitle), "file-choice-empty-message");
  dismiss_message(kMessageTitle);
  EXPECT_TRUE(has_window(kChoiceTitle));

  x().press_close_box(choice.id);
  ASSERT_TRUE(wait_job_end());
  EXPECT_NE(log().find("] 解析状态: 用户主动放弃,选择文件\r\n"), npos);
  EXPECT_EQ(log().find("下载地址: http"), npos);
  EXPECT_EQ(link_requests(), 0);

  // The check box stays on: the next job asks again.
  click(main_window(), kParseButton);
  x().press_close_box(wait_window(kChoiceTitle, choice.id).id);
  ASSERT_TRUE(wait_job_end(2));
  EXPECT_EQ(count_of(log(), "] 解析状态: 用户主动放弃,选择文件\r\n"), 2);
  EXPECT_EQ(link_requests(), 0);
}

TEST_F(FileChoiceTest, ClosingTheMainWindowWhileTheChoiceIsOpenEndsTheProgram) {
  program_ends_itself();
  choose_in_demo_share();
  x().press_close_box(main_window().id);
  EXPECT_EQ(app().wait(10s), 0);
}

}  // namespace
}  // namespace sharelink::gui_testing
