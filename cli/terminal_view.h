#pragma once

// The resolve job's view on a terminal: the link comes from the command line,
// the log goes to stdout, and the two prompt windows become prompts on stderr
// answered by lines of stdin.

#include <chrono>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/job_view.h"
#include "cli/captcha_file.h"
#include "cli/console.h"

namespace sharelink {

class TerminalView : public JobView {
 public:
  // link and first_code are local text; first_code ("" for none) answers the
  // first extraction-code demand, before the code found in a pasted message.
  TerminalView(AppState& state, Console& console, std::string link, std::string first_code,
               std::string captcha_path);

  // What choose_files answers: the files the patterns (local text) choose,
  // all without one; with list_only, a listing and no links.
  void set_choice(bool list_only, std::vector<std::string> patterns) {
    list_only_ = list_only;
    patterns_ = std::move(patterns);
  }

  std::string read_url() override { return link_; }
  // Nothing to disable: the terminal runs exactly one job.
  void set_input_enabled(bool) override {}
  void append_log(const std::string& text) override { console_.log(text); }
  void show_extraction_code_prompt() override;
  void show_captcha_prompt() override;
  FileChoice choose_files(const FileList& files, std::string& mask) override;
  // Folders listed, entries found, links obtained and the time so far, on a
  // status line of the terminal, at most every kStatusInterval.
  void show_progress(const ResolveProgress& progress) override;

 private:
  static constexpr std::chrono::milliseconds kStatusInterval{100};

  // Fetches a captcha of the kind job_status names and saves it; false (with
  // the reason written) when there is no picture to look at.
  bool present_captcha();
  // Whether the job is stopping; a Ctrl-C not yet passed on is, from here.
  bool stopping();
  // Asks until a non-empty answer comes; "" at end of input or after a
  // stop, with no prompt opened after one. retry runs after
  // each empty answer.
  template <typename Retry>
  std::string ask(const std::string& prompt, const char* empty_message, Retry retry);

  AppState& state_;
  Console& console_;
  std::string link_;
  std::string first_code_;
  bool first_code_demand_ = true;
  bool list_only_ = false;
  std::vector<std::string> patterns_;
  CaptchaFile captcha_file_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_status_;
};

}  // namespace sharelink
