#include "app/desktop/desktop_job_view.h"

#include <optional>

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

FileChoice DesktopJobView::choose_files(const FileList& files, std::string& mask) {
  // The call's result carries the choice in its first character.
  const std::optional<std::string> result =
      bridge_.call([this, &files](const std::shared_ptr<UiCall>& request) {
        window_->after_log_shown([this, &files, request] {
          // files lives on the job's stack: only while the job still waits,
          // which it does until this call finishes or the bridge closes.
          if (bridge_.closed()) return;
          window_->open_file_choice(files, [request](FileChoice choice, std::string chosen) {
            request->finish(static_cast<char>('0' + static_cast<int>(choice)) + chosen);
          });
        });
      });
  // Closing the program gives the choice up.
  if (!result || result->empty()) return FileChoice::gave_up;
  mask = result->substr(1);
  return static_cast<FileChoice>((*result)[0] - '0');
}

}  // namespace sharelink
