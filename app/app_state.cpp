#include "app/app_state.h"

#include "app/service_text.h"

namespace sharelink {

FileList AppState::files() const {
  return *published_files();
}

std::shared_ptr<const FileList> AppState::published_files() const {
  std::lock_guard<std::mutex> lock(files_mutex_);
  return file_list_;
}

std::shared_ptr<const FileList> AppState::publish_files(FileList files) {
  auto published = std::make_shared<const FileList>(std::move(files));
  std::lock_guard<std::mutex> lock(files_mutex_);
  file_list_ = published;
  return published;
}

std::string AppState::links_text() const {
  // Read outside the lock: a published list never changes.
  const std::shared_ptr<const FileList> files = published_files();
  std::string text;
  for (const FileEntry& entry : *files) {
    if (exportable_link(entry.dlink)) text += shown_link(entry.dlink) + "\r\n";
  }
  return text;
}

void AppState::request_stop() {
  if (!job_running) return;
  stop_requested = true;
  share_client.stop();
}

bool AppState::try_begin_job() {
  bool expected = false;
  if (!job_running.compare_exchange_strong(expected, true)) return false;
  // A stop meant for the job before does not reach this one; one pressed from
  // now on does.
  stop_requested = false;
  share_client.resume();
  if (stop_requested) share_client.stop();
  return true;
}

void AppState::end_job() {
  job_running.store(false);
}

}  // namespace sharelink
