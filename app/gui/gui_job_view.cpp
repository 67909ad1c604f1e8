#include "app/gui/gui_job_view.h"

namespace sharelink {

std::string GuiJobView::read_url() {
  return bridge_
      .call([this](const std::shared_ptr<UiCall>& request) {
        window_->after_log_shown([this, request] { request->finish(window_->url_text()); });
      })
      .value_or(std::string());
}

void GuiJobView::set_input_enabled(bool enabled) {
  bridge_.call([this, enabled](const std::shared_ptr<UiCall>& request) {
    window_->after_log_shown([this, enabled, request] {
      window_->set_input_enabled(enabled);
      request->finish();
    });
  });
}

void GuiJobView::announce() {
  if (!bridge_.notify([this] { window_->log_arrived(); })) log_.notice_lost();
}

void GuiJobView::append_log(const std::string& text) {
  if (log_.push(text)) announce();
}

void GuiJobView::show_progress(const ResolveProgress& progress) {
  if (log_.set_progress(progress)) announce();
}

void GuiJobView::show_extraction_code_prompt() {
  bridge_.call([this](const std::shared_ptr<UiCall>& request) {
    window_->after_log_shown([this, request] {
      window_->open_extraction_code_prompt([request] { request->finish(); });
    });
  });
}

void GuiJobView::show_captcha_prompt() {
  bridge_.call([this](const std::shared_ptr<UiCall>& request) {
    window_->after_log_shown(
        [this, request] { window_->open_captcha_prompt([request] { request->finish(); }); });
  });
}

}  // namespace sharelink
