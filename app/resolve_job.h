#pragma once

// One press of the parse button: drives ShareClient::resolve from the link in
// the URL box until it succeeds, fails or the user gives up at a prompt, and
// writes the course of the job and a report of every entry into the log.

#include <string>

#include "app/app_state.h"
#include "app/job_view.h"

namespace sharelink {

// listed: the share was listed and, as asked, no link requested; stopped:
// the user stopped it.
enum class JobOutcome { success, failure, gave_up, listed, stopped };

// The line after the report: CR LF, 88 hyphen-minus, CR LF CR LF.
extern const std::string kLogSeparator;

// Appends "[time] text\r\n" to the view's log.
void append_log_line(JobView& view, const std::string& text);

class ResolveJob {
 public:
  ResolveJob(AppState& state, JobView& view) : state_(state), view_(view) {}

  // Runs the whole job on the calling thread. The caller has claimed the job
  // (AppState::try_begin_job); the job releases the claim before it gives the
  // controls back, so a press on the enabled parse button always starts one.
  JobOutcome run();

 private:
  // One call of resolve; kOutOfMemory when memory ran out.
  int resolve_pass(std::string& link, FileList& files, int& resolve_index);
  // Publishes a copy of the list the job goes on with.
  void publish_copy(const FileList& files);
  // Shows the prompt the code asks for; false when the user closed it.
  bool ask_for_answer(int code, int resolve_index);
  // The view's choice of files, applied to the list built just now; 0 or the
  // code that ends the job.
  int choose_files(FileList& files);
  void write_report(const FileList& files, int resolve_index);

  AppState& state_;
  JobView& view_;
};

}  // namespace sharelink
