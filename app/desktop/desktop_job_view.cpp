#include "app/desktop/desktop_job_view.h"

namespace sharelink {

std::string DesktopJobView::read_url() {
  return bridge_
      .call([this](const std::shared_ptr<UiCall>& request) {
        window_->after_log_shown([this, request] { request->finish(window_->url_text()); });
      })
      .value_or(std::string());
}

void DesktopJobView::set_input_enabled(bool enabled) {
  bridge_.call([this, enabled](const std::shared_ptr<UiCall>& request) {
    window_->after_log_shown([this, enabled, request] {
      window_->set_input_enabled(enabled);
      request->finish();
    });
  });
}

void DesktopJobView::announce() {
  if (!bridge_.notify([this] { window_->log_arrived(); })) log_.notice_lost();
}

void DesktopJobView::append_log(const std::string& text) {
  if (log_.push(text)) announce();
}

void DesktopJobView::show_progress(const ResolveProgress& progress) {
  if (log_.set_progress(progress)) announce();
}

void DesktopJobView::show_extraction_code_prompt() {
  bridge_.call([this](const std::shared_ptr<UiCall>& request) {
    window_->after_log_shown([this, request] {
      window_->open_extraction_code_prompt([request] { request->finish(); });
    });
  });
}

void DesktopJobView::show_captcha_prompt() {
  bridge_.call([this](const std::shared_ptr<UiCall>& request) {
    window_->after_log_shown(
        [this, request] { window_->open_captcha_prompt([request] { request->finish(); }); });
  });
}

}  // namespace sharelink
