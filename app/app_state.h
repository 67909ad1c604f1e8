#pragma once

// The state the main window, the resolve job and the prompt windows share. One
// instance is made at start-up and lives until exit.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "share/file_entry.h"
#include "share/share_client.h"

namespace sharelink {

struct AppState {
  // Used by one job at a time, and by the captcha prompt while that job waits.
  ShareClient share_client;
  // Result code of the last resolve; 1 while a job starts. The captcha prompt
  // reads it to know which captcha to fetch.
  std::atomic<int> job_status{0};
  // Answers of the prompts: the job clears one before it shows its prompt, the
  // prompt's OK handler sets it, the job reads it after the prompt closed.
  std::string extraction_code;
  std::string captcha_answer;
  // The extraction code found in a pasted share message, offered as the initial
  // text of the extraction-code prompt; "" when none was found.
  std::string suggested_code;

  // True from the moment a job is claimed until it has ended.
  std::atomic<bool> job_running{false};

  // The entries of the last (or running) job, as published by the job after
  // every resolve call: a copy, and the shared list itself, which no one
  // changes once published.
  FileList files() const;
  std::shared_ptr<const FileList> published_files() const;
  // Takes the list over whole: a share of a hundred thousand files is not
  // held twice.
  std::shared_ptr<const FileList> publish_files(FileList files);

  // Every http or https download link of the published list, each followed by
  // "\r\n", made safe to paste (shown_link).
  std::string links_text() const;

  // Any thread: the running job, if any, stops as soon as it can: requests
  // under way are abandoned, no new one starts, and the job ends with
  // "用户主动停止" and the report of what it found. A job claimed later runs
  // as usual.
  void request_stop();
  // Set by request_stop while a job runs; the job clears it as it starts.
  std::atomic<bool> stop_requested{false};

  // Claims the right to run a job; false while another one runs.
  bool try_begin_job();
  void end_job();

 private:
  mutable std::mutex files_mutex_;
  std::shared_ptr<const FileList> file_list_ = std::make_shared<const FileList>();
};

}  // namespace sharelink
