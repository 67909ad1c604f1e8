// The extraction-code and captcha windows as the resolve job opens them.

#include <gtest/gtest.h>

#include <vector>

#include "gui/gui_app.h"
#include "sim/knobs.h"

namespace sharelink::gui_testing {
namespace {

using PromptTest = GuiApp;

TEST_F(PromptTest, ExtractionCodeWindowRefusesSpacesThenUnlocksTheShare) {
  resolve(link("1LockDemoK3vP"));
  const TopWindow prompt = wait_window(kCodeTitle);
  // The line that says why is in the box by the time the prompt is there.
  EXPECT_NE(log().find("] 解析状态: 访问密码错误\r\n"), std::string::npos);
  expect_layout(prompt, 225, 89, {layout::kCodeBox});
  EXPECT_EQ(read_box(prompt, kCodeBox), "r5kw");
  screenshot(prompt, "extraction-code-window");

  // An ASCII and a full-width space: nothing left to send.
  paste(prompt, kCodeBox, u8" \u3000");
  EXPECT_EQ(read_box(prompt, kCodeBox), u8" \u3000");
  click(prompt, kCodeOk);
  screenshot(wait_window(kMessageTitle), "extraction-code-empty-message");
  dismiss_message(kMessageTitle);
  EXPECT_TRUE(has_window(kCodeTitle));

  fill(prompt, kCodeBox, "8k2p");
  click(prompt, kCodeOk);
  ASSERT_TRUE(wait_job_end());
  const std::string text = log();
  const std::size_t refused = text.find("] 解析状态: 访问密码错误\r\n");
  ASSERT_NE(refused, std::string::npos);
  EXPECT_NE(text.find("] 解析状态: 成功\r\n", refused), std::string::npos);
  EXPECT_EQ(count_of(text, "下载地址: http"), 4);
  EXPECT_FALSE(has_window(kCodeTitle));
}

TEST_F(PromptTest, CodeInThePastedLinkIsOfferedAndEnterConfirmsIt) {
  resolve(link("1LockDemoK3vP") + "?pwd=8k2p");
  const TopWindow prompt = wait_window(kCodeTitle);
  EXPECT_EQ(read_box(prompt, kCodeBox), "8k2p");
  key("Return");
  ASSERT_TRUE(wait_job_end());
  EXPECT_EQ(count_of(log(), "下载地址: http"), 4);
}

// A share message as people paste it, the code on its own line: the box
// takes it whole.
TEST_F(PromptTest, CodeOnTheSecondLineOfAPastedMessageIsOffered) {
  const TopWindow window = main_window();
  paste(window, kUrlBox, u8"链接: " + link("1LockDemoK3vP") + u8"\r\n提取码: 8k2p");
  click(window, kParseButton);
  EXPECT_EQ(read_box(wait_window(kCodeTitle), kCodeBox), "8k2p");
  key("Return");
  ASSERT_TRUE(wait_job_end());
  EXPECT_EQ(count_of(log(), "下载地址: http"), 4);
}

TEST_F(PromptTest, ClosingTheWindowGivesUpAndTheNextJobCanStart) {
  const std::string share = link("1LockDemoK3vP");
  resolve(share);
  x().press_close_box(wait_window(kCodeTitle).id);
  ASSERT_TRUE(wait_job_end());
  const std::string text = log();
  EXPECT_NE(text.find("] 解析状态: 用户主动放弃,输入提取密码\r\n"), std::string::npos);
  EXPECT_EQ(text.find("文件总数"), std::string::npos);

  // The job gave the controls back: the same link again, answered this time.
  click(main_window(), kParseButton);
  const TopWindow prompt = wait_window(kCodeTitle);
  fill(prompt, kCodeBox, "8k2p");
  click(prompt, kCodeOk);
  ASSERT_TRUE(wait_job_end(2));
  EXPECT_EQ(count_of(log(), "] 解析URL: " + share + "\r\n"), 2);
}

TEST_F(PromptTest, ClosingTheMainWindowWhileAPromptIsOpenEndsTheProgram) {
  program_ends_itself();
  resolve(link("1LockDemoK3vP"));
  wait_window(kCodeTitle);
  x().press_close_box(main_window().id);
  EXPECT_EQ(app().wait(10s), 0);
}

// The pictures the simulator served, oldest first, by captcha id.
std::vector<std::string> served_pictures(sim::Simulator& sim) {
  std::vector<std::string> ids;
  for (const sim::LogEntry& entry : sim.requests()) {
    if (entry.endpoint == "image") ids.push_back(entry.query);
  }
  return ids;
}

// The answer to the captcha the window shows now: the simulator's answer to the
// picture it served last.
std::string shown_answer(sim::Simulator& sim) {
  const std::vector<std::string> ids = served_pictures(sim);
  return ids.empty() ? "" : sim.captcha_answer(ids.back()).value_or("");
}

std::vector<unsigned long> picture_box(XClient& x, const TopWindow& prompt) {
  return client_pixels(x, prompt, 8, 8, 120, 40);
}

bool is_picture(const std::vector<unsigned long>& pixels) {
  // A plain box has one or two colours; the captcha has many.
  return colours_of(pixels) > 8;
}

bool shows_picture(XClient& x, const TopWindow& prompt) {
  return is_picture(picture_box(x, prompt));
}

bool shows_answer_text(XClient& x, const TopWindow& prompt) {
  // Inside the frame an empty box is white with at most a cursor line;
  // smoothed letters bring many greys.
  return colours_of(client_pixels(x, prompt, 142, 14, 84, 29)) > 3;
}

TEST_F(PromptTest, DownloadCaptchasAreAnsweredFromTheirPictures) {
  const std::string share = link("1CapDemoW9zT");
  resolve(share);
  TopWindow prompt = wait_window(kCaptchaTitle);
  // From the second file on, every download asks for a captcha.
  std::vector<unsigned long> last_picture;
  for (int file = 2; file <= 3; ++file) {
    // The answer is that of the picture shown: the window fetches it first.
    // Until a new window is first drawn, it shows what was on the screen there,
    // such as the last window's picture; typing before the fetched picture
    // arrives would be undone by its arrival. So: the picture was served, and
    // the box shows one that stays and is not the last.
    const std::size_t prompts = static_cast<std::size_t>(file - 1);
    ASSERT_TRUE(wait_until([&] { return served_pictures(sim()).size() >= prompts; }, 10s));
    std::vector<unsigned long> seen;
    ASSERT_TRUE(wait_until(
        [&] {
          std::vector<unsigned long> shown = picture_box(x(), prompt);
          const bool settled = is_picture(shown) && shown == seen && shown != last_picture;
          seen = std::move(shown);
          return settled;
        },
        10s));
    last_picture = seen;
    if (file == 2) {
      expect_layout(prompt, 351, 89, {layout::kCaptchaBox, layout::kPictureBox});
      screenshot(prompt, "captcha-window");
    }
    EXPECT_NE(
        log().find("] 解析状态: 第[ " + std::to_string(file) + " ]编号文件,下载验证码错误\r\n"),
        std::string::npos);
    fill(prompt, kCaptchaBox, shown_answer(sim()));
    click(prompt, kCaptchaOk);
    if (file < 3) prompt = wait_window(kCaptchaTitle, prompt.id);
  }
  ASSERT_TRUE(wait_job_end());
  const std::string text = log();
  EXPECT_NE(text.find("] 解析状态: 第[ 2 ]编号文件,下载验证码错误\r\n"), std::string::npos);
  EXPECT_NE(text.find("] 解析状态: 第[ 3 ]编号文件,下载验证码错误\r\n"), std::string::npos);
  EXPECT_NE(text.find("] 解析状态: 成功\r\n"), std::string::npos);

  click(main_window(), kCopyButton);
  dismiss_message(kMessageTitle);
  EXPECT_EQ(count_of(clipboard(), "\r\n"), 3);
}

class FailingCaptchaTest : public GuiApp {
  void configure(sim::Fixture& fixture) override {
    // The first captcha call fails, the first picture is damaged.
    fixture.knobs.faults.push_back({sim::Endpoint::captcha, sim::FaultKind::http500, 1, 0});
    fixture.knobs.faults.push_back({sim::Endpoint::image, sim::FaultKind::corrupt_captcha, 1, 0});
  }
};

TEST_F(FailingCaptchaTest, APressOnThePictureFetchesAgainAfterFailures) {
  resolve(link("1CapDemoW9zT"));
  const TopWindow failed = wait_window(kCaptchaFailedTitle);
  screenshot(failed, "captcha-failed-message");
  dismiss_message(kCaptchaFailedTitle);
  TopWindow prompt = wait_window(kCaptchaTitle);
  // Once redrawn where the message box was: no picture.
  EXPECT_TRUE(wait_until([&] { return !shows_picture(x(), prompt); }, 10s));

  // A damaged picture shows nothing and harms nothing. The answer box is
  // emptied when a fetch succeeds: the sign that the picture has been set.
  fill(prompt, kCaptchaBox, "zz");
  ASSERT_TRUE(wait_until([&] { return shows_answer_text(x(), prompt); }, 10s));
  click(prompt, kCaptchaPicture);
  ASSERT_TRUE(wait_until([&] { return !shows_answer_text(x(), prompt); }, 10s));
  EXPECT_EQ(sim().requests().back().endpoint, "image");
  EXPECT_FALSE(shows_picture(x(), prompt));

  click(prompt, kCaptchaPicture);
  EXPECT_TRUE(wait_until([&] { return shows_picture(x(), prompt); }, 10s));
  fill(prompt, kCaptchaBox, shown_answer(sim()));
  click(prompt, kCaptchaOk);

  // The third file asks again; this time the user closes the window.
  prompt = wait_window(kCaptchaTitle, prompt.id);
  x().press_close_box(prompt.id);
  ASSERT_TRUE(wait_job_end());
  const std::string text = log();
  EXPECT_NE(text.find("] 解析状态: 用户主动放弃,输入验证码\r\n"), std::string::npos);
  EXPECT_EQ(count_of(text, "下载地址: http"), 2);
  EXPECT_EQ(count_of(text, "下载地址: 用户主动放弃解析或解析失败\r\n"), 1);
}

class StalledCaptchaTest : public GuiApp {
  void configure(sim::Fixture& fixture) override {
    fixture.knobs.faults.push_back({sim::Endpoint::image, sim::FaultKind::hang, 0, 0});
    fixture.knobs.hang_ms = 60000;
  }
};

TEST_F(StalledCaptchaTest, TheWindowAnswersWhileItsPictureHangsAndClosesAtOnce) {
  resolve(link("1CapDemoW9zT"));
  const TopWindow prompt = wait_window(kCaptchaTitle);
  ASSERT_TRUE(wait_until(
      [&] { return !sim().requests().empty() && sim().requests().back().endpoint == "image"; },
      10s));
  // Typing reaches the box while the picture is on its way.
  fill(prompt, kCaptchaBox, "ab");
  EXPECT_TRUE(wait_until([&] { return shows_answer_text(x(), prompt); }, 10s));
  x().press_close_box(prompt.id);
  ASSERT_TRUE(wait_job_end());
  EXPECT_NE(log().find("] 解析状态: 用户主动放弃,输入验证码\r\n"), std::string::npos);
  // The main window still answers: the copy button's message comes.
  click(main_window(), kCopyButton);
  dismiss_message(kMessageTitle);
}

}  // namespace
}  // namespace sharelink::gui_testing
