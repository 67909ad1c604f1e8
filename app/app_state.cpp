#include "app/app_state.h"

#include "app/service_text.h"

namespace sharelink {

FileList AppState::files() const {
  std::lock_guard<std::mutex> lock(files_mutex_);
  return file_list_;
}

void AppState::publish_files(const FileList& files) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  file_list_ = files;
}

std::string AppState::links_text() const {
  std::lock_guard<std::mutex> lock(files_mutex_);
  std::string text;
  for (const FileEntry& entry : file_list_) {
    if (exportable_link(entry.dlink)) text += shown_link(entry.dlink) + "\r\n";
  }
  return text;
}

bool AppState::try_begin_job() {
  bool expected = false;
  return job_running.compare_exchange_strong(expected, true);
}

void AppState::end_job() {
  job_running.store(false);
}

}  // namespace sharelink
