#include "app/resolve_job.h"

#include <algorithm>
#include <memory>
#include <new>

#include "app/datetime_text.h"
#include "app/service_text.h"
#include "app/share_text.h"
#include "share/result_codes.h"

namespace sharelink {

const std::string kLogSeparator = "\r\n" + std::string(88, '-') + "\r\n\r\n";

void append_log_line(JobView& view, const std::string& text) {
  view.append_log(log_line(text, local_now()));
}

JobOutcome ResolveJob::run() {
  state_.job_status = 1;
  view_.set_input_enabled(false);
  state_.extraction_code.clear();
  state_.captcha_answer.clear();
  int resolve_index = 1;
  state_.share_client.clear_cookies();
  state_.share_client.new_connections();
  state_.share_client.set_progress_observer(
      [this](const ResolveProgress& progress) { view_.show_progress(progress); });
  state_.share_client.set_list_chooser([this](FileList& list) { return choose_files(list); });
  state_.share_client.set_notice_observer(
      [this](const std::string& line) { append_log_line(view_, "解析状态: " + line); });
  view_.show_progress({});
  FileList files;
  state_.publish_files({});
  // The list the report is written from: the last pass's, published.
  std::shared_ptr<const FileList> finished;

  const ShareText typed = parse_share_text(view_.read_url());
  state_.suggested_code = typed.code;
  append_log_line(view_, "解析URL: " + typed.link);

  bool gave_up = false;
  while (state_.job_status != 0) {
    append_log_line(view_, "解析状态: 正在解析,请稍后...");
    // The URL box is disabled, so it still holds the link of the first read.
    std::string link = parse_share_text(view_.read_url()).link;
    // kStopped only when the stop ended the pass (the client and the file
    // choice say so): an error that came before the stop stays the job's.
    const int code = resolve_pass(link, files, resolve_index);
    state_.job_status = code;
    const bool prompt = code == kWrongDownloadCaptcha || code == kWrongVerifyCaptcha ||
                        code == kWrongExtractionCode || code == kWrongExtractionCodeAlt;
    // The copy button sees what this pass obtained. A pass that ends the job
    // hands its list over; one before a prompt goes on with it.
    if (prompt) {
      publish_copy(files);
    } else {
      finished = state_.publish_files(std::move(files));
    }
    if (code != kWrongDownloadCaptcha) append_log_line(view_, "解析状态: " + error_message(code));
    if (!prompt) break;
    if (ask_for_answer(code, resolve_index)) continue;
    if (state_.stop_requested) {
      state_.job_status = kStopped;
      append_log_line(view_, "解析状态: " + error_message(kStopped));
    } else {
      gave_up = true;
    }
    break;
  }

  state_.share_client.set_progress_observer(nullptr);
  state_.share_client.set_list_chooser(nullptr);
  state_.share_client.set_notice_observer(nullptr);
  state_.share_client.drop_connections();
  if (!finished) finished = state_.publish_files(std::move(files));
  try {
    // Links nobody asked for are no report; a listing is shown by its caller.
    const int code = state_.job_status;
    if (code != kListedOnly && code != kNothingChosen) write_report(*finished, resolve_index);
  } catch (const std::bad_alloc&) {
    append_log_line(view_, "解析状态: " + error_message(kOutOfMemory));
  }
  view_.append_log(kLogSeparator);
  state_.end_job();
  view_.set_input_enabled(true);
  if (gave_up || state_.job_status == kChoiceGivenUp) return JobOutcome::gave_up;
  if (state_.job_status == kListedOnly) return JobOutcome::listed;
  if (state_.job_status == kStopped) return JobOutcome::stopped;
  return state_.job_status == 0 ? JobOutcome::success : JobOutcome::failure;
}

int ResolveJob::resolve_pass(std::string& link, FileList& files, int& resolve_index) {
  // Memory runs out on this thread, not the window's: the job ends with its
  // line and what it found, the program goes on. A failed push_back leaves the
  // list as it was.
  try {
    return state_.share_client.resolve(link, files, resolve_index, state_.extraction_code,
                                       state_.captcha_answer);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
}

void ResolveJob::publish_copy(const FileList& files) {
  // Without the room for a copy the button keeps the list before: the job
  // goes on with its own.
  try {
    state_.publish_files(files);
  } catch (const std::bad_alloc&) {
  }
}

bool ResolveJob::ask_for_answer(int code, int resolve_index) {
  if (code == kWrongDownloadCaptcha || code == kWrongVerifyCaptcha) {
    if (code == kWrongDownloadCaptcha) {
      append_log_line(view_, "解析状态: 第[ " + std::to_string(resolve_index) + " ]编号文件," +
                                 error_message(kWrongDownloadCaptcha));
    }
    // Cleared first: "" after the prompt closed can only mean the user gave up.
    state_.captcha_answer.clear();
    view_.show_captcha_prompt();
    if (!state_.captcha_answer.empty()) return true;
    if (!state_.stop_requested) append_log_line(view_, "解析状态: 用户主动放弃,输入验证码");
    return false;
  }
  // A code found with the link that the service refused is offered no more.
  if (state_.extraction_code == state_.suggested_code) state_.suggested_code.clear();
  state_.extraction_code.clear();
  view_.show_extraction_code_prompt();
  if (!state_.extraction_code.empty()) return true;
  if (!state_.stop_requested) append_log_line(view_, "解析状态: 用户主动放弃,输入提取密码");
  return false;
}

int ResolveJob::choose_files(FileList& files) {
  const auto is_file = [](const FileEntry& entry) { return entry.isdir != "1"; };
  if (std::none_of(files.begin(), files.end(), is_file)) return 0;
  std::string mask;
  const FileChoice choice = view_.choose_files(files, mask);
  if (choice == FileChoice::all) return 0;
  if (choice == FileChoice::gave_up) return state_.stop_requested ? kStopped : kChoiceGivenUp;
  if (!mask.empty()) {
    // Kept in list order: the report's numbers name the entries requested.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (i < mask.size() && mask[i] == '1') {
        if (kept != i) files[kept] = std::move(files[i]);
        ++kept;
      }
    }
    files.resize(kept);
    files.shrink_to_fit();
    if (std::none_of(files.begin(), files.end(), is_file)) return kNothingChosen;
  }
  return choice == FileChoice::listed ? kListedOnly : 0;
}

void ResolveJob::write_report(const FileList& files, int resolve_index) {
  if (files.empty()) return;
  view_.append_log("\r\n");
  append_log_line(view_, "文件总数: " + std::to_string(files.size()));
  view_.append_log("\r\n");
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileEntry& entry = files[i];
    const int number = static_cast<int>(i) + 1;
    append_log_line(view_, "文件编号: " + std::to_string(number));
    if (entry.isdir == "1") {
      append_log_line(view_, "文件类型: 目录");
      append_log_line(view_, "[" + shown_text(entry.server_filename) + "] 目录下的文件列表");
    } else {
      append_log_line(view_, "文件类型: 文件");
      append_log_line(view_, "文件名称: " + shown_text(entry.server_filename));
      append_log_line(view_, "文件大小: " + shown_text(entry.size));
      append_log_line(view_, "网盘路径: " + shown_text(entry.path));
      // Every link obtained is shown, also those that came in after a failure
      // on an entry before them; a link of another scheme is handed on
      // nowhere: the entry failed.
      const bool linked =
          entry.dlink.empty() ? number < resolve_index : exportable_link(entry.dlink);
      append_log_line(view_, linked ? "下载地址: " + shown_link(entry.dlink)
                                    : std::string("下载地址: 用户主动放弃解析或解析失败"));
    }
    view_.append_log("\r\n");
  }
}

}  // namespace sharelink
