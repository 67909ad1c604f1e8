#include "app/desktop/prompt_presenters.h"

#include <utility>

#include "app/app_texts.h"
#include "app/share_text.h"
#include "share/result_codes.h"

namespace sharelink {

void PromptPresenter::closed() {
  closed_ = true;
  if (on_closed_) std::exchange(on_closed_, nullptr)();
}

void PromptPresenter::confirm(std::string& answer, const char* empty_message) {
  const std::string typed = confirmed_answer(view_.answer_text());
  if (typed.empty()) {
    view_.show_message(empty_message, kMessageCaption);
    return;
  }
  answer = typed;
  view_.close();
}

std::string ExtractionCodePresenter::initial_answer() const {
  return state_.suggested_code.empty() ? std::string(kSampleCode) : state_.suggested_code;
}

void ExtractionCodePresenter::ok_clicked() {
  confirm(state_.extraction_code, kEnterCodeMessage);
}

void CaptchaPresenter::load_captcha() {
  if (load_ || closed_) return;
  load_ = start_captcha_load(state_, decode_);
  if (!load_) {
    view_.show_message(error_message(kRequestFailed), kCaptchaFailedCaption);
    return;
  }
  picture_view_.schedule(kLoadPoll);
}

void CaptchaPresenter::poll() {
  if (!load_) return;
  if (!load_->done) {
    picture_view_.schedule(kLoadPoll);
    return;
  }
  const std::shared_ptr<CaptchaLoad> load = std::move(load_);
  // A window closed meanwhile only waits for its deletion.
  if (closed_) return;
  if (load->code != 0) {
    view_.show_message(error_message(load->code), kCaptchaFailedCaption);
    return;
  }
  // The job waits while this window is open: the client is ours to write.
  state_.share_client.set_vcode_str(std::move(load->id));
  // Bytes that are no picture we can show leave the box empty, never stale.
  picture_view_.show_picture(std::move(load->picture));
  view_.set_answer_text("");
}

void CaptchaPresenter::ok_clicked() {
  confirm(state_.captcha_answer, kEnterCaptchaMessage);
}

}  // namespace sharelink
