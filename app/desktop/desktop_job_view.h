#pragma once

// The resolve job's view of the desktop windows, FLTK's or Win32's. Log lines
// and progress go into a queue the main thread empties on its own time; every
// other call crosses to the main thread through the bridge, shows the queued
// lines first and returns when it is done there. Once the program is closing,
// calls return at once without touching any window (a read then gives "", a
// prompt counts as closed without an answer).

#include <string>

#include "app/desktop/job_window.h"
#include "app/desktop/log_queue.h"
#include "app/desktop/ui_bridge.h"
#include "app/job_view.h"

namespace sharelink {

class DesktopJobView : public JobView {
 public:
  DesktopJobView(UiBridge& bridge, LogQueue& log) : bridge_(bridge), log_(log) {}

  // Main thread, before the first job: the window the calls go to.
  void set_window(JobWindow* window) { window_ = window; }

  std::string read_url() override;
  void set_input_enabled(bool enabled) override;
  void append_log(const std::string& text) override;
  void show_extraction_code_prompt() override;
  void show_captcha_prompt() override;
  FileChoice choose_files(const FileList& files, std::string& mask) override;
  void show_progress(const ResolveProgress& progress) override;

 private:
  // Asks the main thread to take what waits in the queue.
  void announce();

  UiBridge& bridge_;
  LogQueue& log_;
  JobWindow* window_ = nullptr;
};

}  // namespace sharelink
