#pragma once

// What the two prompt windows do, whatever draws them. The job waits while one
// is open; 确定 stores a non-empty answer in the shared state and closes the
// window, the close box closes it storing nothing, so the job can tell an
// answer from giving up. A toolkit's prompt window is a PromptView (the
// captcha window a CaptchaView too) that owns its presenter, forwards its
// events here and does what it is told. Main thread only; texts are local text.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/desktop/captcha_load.h"
#include "app/desktop/captcha_picture.h"

namespace sharelink {

class PromptView {
 public:
  virtual ~PromptView() = default;
  virtual std::string answer_text() const = 0;
  virtual void set_answer_text(const std::string& text) = 0;
  virtual void show_message(const std::string& text, const std::string& caption) = 0;
  // Closes the window; its closing then reaches PromptPresenter::closed.
  virtual void close() = 0;
};

class CaptchaView {
 public:
  virtual ~CaptchaView() = default;
  // An empty picture empties the box.
  virtual void show_picture(Picture picture) = 0;
  // Calls CaptchaPresenter::poll once after delay, from the event loop; false
  // when the toolkit refused.
  virtual bool schedule(std::chrono::milliseconds delay) = 0;
};

class PromptPresenter {
 public:
  PromptPresenter(AppState& state, PromptView& view, std::function<void()> on_closed)
      : state_(state), view_(view), on_closed_(std::move(on_closed)) {}
  virtual ~PromptPresenter() = default;
  PromptPresenter(const PromptPresenter&) = delete;
  PromptPresenter& operator=(const PromptPresenter&) = delete;

  // 确定, or Enter.
  virtual void ok_clicked() = 0;
  // The window has closed, by 确定 or by its close box: on_closed runs, once.
  void closed();

 protected:
  // Every space removed, a non-empty answer goes into answer and the window
  // closes; an empty one gets empty_message and the window stays.
  void confirm(std::string& answer, const char* empty_message);

  AppState& state_;
  bool closed_ = false;

 private:
  PromptView& view_;
  std::function<void()> on_closed_;
};

class ExtractionCodePresenter : public PromptPresenter {
 public:
  using PromptPresenter::PromptPresenter;
  // What the answer box holds at first: the code found with the link, else
  // the sample code.
  std::string initial_answer() const;
  void ok_clicked() override;
};

class CaptchaPresenter : public PromptPresenter {
 public:
  static constexpr std::chrono::milliseconds kLoadPoll{30};

  // decode runs on the fetching thread.
  CaptchaPresenter(AppState& state, PromptView& view, CaptchaView& picture_view,
                   Picture (*decode)(const Bytes& bytes), std::function<void()> on_closed)
      : PromptPresenter(state, view, std::move(on_closed)),
        view_(view),
        picture_view_(picture_view),
        decode_(decode) {}

  // The window is shown, or its picture pressed: fetches a new captcha of the
  // kind the job's last result asks for, on a thread of its own, and shows it
  // when it arrives; a failure is told in a message box and changes nothing.
  // A press while one is on its way does nothing: the window keeps answering,
  // and its close box works at any time.
  void load_captcha();
  void poll();
  void ok_clicked() override;

 private:
  PromptView& view_;
  CaptchaView& picture_view_;
  Picture (*decode_)(const Bytes& bytes);
  // The fetch on its way, shared with its thread; null when none is.
  std::shared_ptr<CaptchaLoad> load_;
};

}  // namespace sharelink
