#include "cli/terminal_view.h"

#include "cli/system_io.h"

#include "app/app_texts.h"
#include "app/share_text.h"
#include "app/share_tree.h"
#include "share/result_codes.h"

namespace sharelink {

TerminalView::TerminalView(AppState& state, Console& console, std::string link,
                           std::string first_code, std::string captcha_path)
    : state_(state),
      console_(console),
      link_(std::move(link)),
      first_code_(std::move(first_code)),
      captcha_file_(std::move(captcha_path)) {}

bool TerminalView::stopping() {
  // The watch thread passes a Ctrl-C on within its poll; a prompt opened
  // meanwhile would wait for a line nobody means to type.
  if (system_io::interrupted()) state_.request_stop();
  return state_.stop_requested;
}

template <typename Retry>
std::string TerminalView::ask(const std::string& prompt, const char* empty_message, Retry retry) {
  for (;;) {
    if (stopping()) return {};
    console_.prompt(prompt + ": ");
    const std::optional<std::string> line = console_.read_line();
    // Ctrl-C cannot end a read under way: the line that ends it counts as
    // the stop, whatever it holds.
    if (system_io::interrupted()) {
      state_.request_stop();
      return {};
    }
    if (!line) return {};
    std::string answer = confirmed_answer(*line);
    if (!answer.empty()) return answer;
    console_.message(empty_message);
    retry();
  }
}

void TerminalView::show_extraction_code_prompt() {
  if (first_code_demand_) {
    first_code_demand_ = false;
    // The job has read the link by now, so a code found in a pasted message is
    // known; one given on the command line wins over it.
    const std::string given =
        confirmed_answer(first_code_.empty() ? state_.suggested_code : first_code_);
    if (!given.empty()) {
      state_.extraction_code = given;
      return;
    }
  }
  state_.extraction_code = ask(kCodeTitle, kEnterCodeMessage, [] {});
}

void TerminalView::show_captcha_prompt() {
  if (stopping()) return;
  bool shown = present_captcha();
  // Without a picture an empty answer fetches one again, as a press on the
  // window's picture box would.
  state_.captcha_answer = ask(kCaptchaTitle, kEnterCaptchaMessage, [this, &shown] {
    if (!shown) shown = present_captcha();
  });
}

FileChoice TerminalView::choose_files(const FileList& files, std::string& mask) {
  if (!patterns_.empty()) {
    ShareTree tree(files);
    tree.set_all(false);
    for (const std::string& pattern : patterns_)
      tree.set_matching(pattern, true);
    mask = tree.chosen_mask();
  } else if (!list_only_) {
    return FileChoice::all;
  }
  return list_only_ ? FileChoice::listed : FileChoice::chosen;
}

void TerminalView::show_progress(const ResolveProgress& progress) {
  const auto now = std::chrono::steady_clock::now();
  if (!console_.shows_status() || now - last_status_ < kStatusInterval) return;
  last_status_ = now;
  const long long tenths =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - started_).count() / 100;
  console_.status("解析中: 目录 " + std::to_string(progress.folders_listed) + ", 条目 " +
                  std::to_string(progress.entries_found) + ", 链接 " +
                  std::to_string(progress.links_obtained) + "/" +
                  std::to_string(progress.files_found) + ", 用时 " + std::to_string(tenths / 10) +
                  "." + std::to_string(tenths % 10) + " 秒");
}

bool TerminalView::present_captcha() {
  Bytes image;
  const int code = state_.share_client.fetch_captcha(image, state_.job_status);
  if (stopping()) return false;
  if (code != 0) {
    console_.message(std::string(kCaptchaFailedCaption) + ": " + error_message(code));
    return false;
  }
  std::string path;
  std::string error;
  if (!captcha_file_.write(image, path, error)) {
    console_.message("验证码图片无法保存: ", error);
    return false;
  }
  console_.message("验证码图片: ", path);
  return true;
}

}  // namespace sharelink
