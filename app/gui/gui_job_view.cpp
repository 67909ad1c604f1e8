#include "app/gui/gui_job_view.h"

#include "app/gui/prompt_windows.h"

namespace sharelink {

std::string GuiJobView::read_url() {
  return bridge_.run([this] { return window_->url_text(); }).value_or(std::string());
}

void GuiJobView::set_input_enabled(bool enabled) {
  bridge_.run([this, enabled] {
    window_->set_input_enabled(enabled);
    return std::string();
  });
}

void GuiJobView::append_log(const std::string& text) {
  // A copy: the task may outlive the caller's text when the program closes.
  bridge_.run([this, text] {
    window_->append_log(text);
    return std::string();
  });
}

void GuiJobView::show_extraction_code_prompt() {
  bridge_.call([this](const std::shared_ptr<UiCall>& request) {
    open_extraction_code_window(state_, [request] { request->finish(); });
  });
}

void GuiJobView::show_captcha_prompt() {
  bridge_.call([this](const std::shared_ptr<UiCall>& request) {
    open_captcha_window(state_, [request] { request->finish(); });
  });
}

}  // namespace sharelink
