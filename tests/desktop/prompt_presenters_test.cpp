// The prompt windows' logic through a fake view: what 确定 stores and when
// the window closes, and the captcha window's picture.

#include "app/desktop/prompt_presenters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/app_texts.h"
#include "e2e/sim_harness.h"
#include "share/result_codes.h"

namespace sharelink {
namespace {

class FakePromptView : public PromptView, public CaptchaView {
 public:
  PromptPresenter* presenter = nullptr;
  std::string answer;
  std::vector<std::string> messages;
  bool closed = false;
  Picture picture;
  bool timer = false;

  std::string answer_text() const override { return answer; }
  void set_answer_text(const std::string& text) override { answer = text; }
  void show_message(const std::string& text, const std::string&) override {
    messages.push_back(text);
  }
  void close() override {
    closed = true;
    presenter->closed();
  }
  void show_picture(Picture shown) override { picture = std::move(shown); }
  bool schedule(std::chrono::milliseconds) override { return timer = true; }
};

struct AnswerCase {
  const char* typed;  // nullptr: the close box
  const char* stored;
  bool stays_open;
};

TEST(PromptPresenters, ConfirmStoresATrimmedAnswerOrAsksAgain) {
  const AnswerCase cases[] = {
      {" 8k 2p ", "8k2p", false}, {"　 ", "", true}, {"", "", true}, {nullptr, "", false}};
  for (const bool captcha : {false, true}) {
    for (const AnswerCase& row : cases) {
      SCOPED_TRACE(std::string(captcha ? "captcha: " : "code: ") +
                   (row.typed ? row.typed : "close"));
      AppState state;
      FakePromptView view;
      int closings = 0;
      ExtractionCodePresenter code(state, view, [&] { ++closings; });
      CaptchaPresenter picture(state, view, view, nullptr, [&] { ++closings; });
      view.presenter = captcha ? static_cast<PromptPresenter*>(&picture) : &code;
      if (row.typed) {
        view.answer = row.typed;
        view.presenter->ok_clicked();
      } else {
        view.presenter->closed();
      }
      EXPECT_EQ(captcha ? state.captcha_answer : state.extraction_code, row.stored);
      EXPECT_EQ(closings, row.stays_open ? 0 : 1);
      const char* asked = captcha ? kEnterCaptchaMessage : kEnterCodeMessage;
      EXPECT_EQ(view.messages,
                row.stays_open ? std::vector<std::string>{asked} : std::vector<std::string>{});
      view.presenter->closed();  // a second closing tells no one
      EXPECT_EQ(closings, 1);
    }
  }
}

// The picture arrives on a thread of its own; the view's timer polls for it.
void wait_for_load(FakePromptView& view, CaptchaPresenter& presenter) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (view.timer && std::chrono::steady_clock::now() < deadline) {
    view.timer = false;
    presenter.poll();
    if (view.timer) std::this_thread::yield();
  }
}

TEST(PromptPresenters, CaptchaShowsTheServicesPictureOrSaysWhyNot) {
  testing::SimHarness sim(testing::SimHarness::demo_fixture());
  for (const int kind : {kWrongDownloadCaptcha, 0}) {
    SCOPED_TRACE(kind);
    AppState state;
    std::string link = sim.link("1PubDemoXq7Ra");
    FileList files;
    int index = 1;
    ASSERT_EQ(state.share_client.resolve(link, files, index, "", ""), 0);  // the origin
    state.job_status = kind;
    FakePromptView view;
    view.answer = "old";
    CaptchaPresenter presenter(
        state, view, view,
        [](const Bytes& bytes) {
          return Picture{1, 1, {bytes.begin(), bytes.begin() + 3}};
        },
        [] {});
    view.presenter = &presenter;
    presenter.load_captcha();
    presenter.load_captcha();  // one on its way: nothing more
    wait_for_load(view, presenter);
    EXPECT_EQ(view.picture.empty(), kind == 0);
    EXPECT_EQ(view.messages.empty(), kind != 0);
    EXPECT_EQ(view.answer, kind != 0 ? "" : "old");
    EXPECT_EQ(state.share_client.vcode_str().empty(), kind == 0);
    if (kind == 0) {
      EXPECT_EQ(view.messages[0], error_message(kBadCaptchaKind));
    }
  }
  EXPECT_TRUE(captcha_loads_idle(std::chrono::seconds(5)));
}

}  // namespace
}  // namespace sharelink
