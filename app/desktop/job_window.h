#pragma once

// What the job's view needs of a main window, whatever the toolkit: the main
// window's presenter provides it for both. Main thread only; texts are local
// text.

#include <functional>
#include <string>

#include "app/job_view.h"

namespace sharelink {

class JobWindow {
 public:
  virtual ~JobWindow() = default;

  virtual std::string url_text() const = 0;
  // Enabling ends a job: the caption loses its progress.
  virtual void set_input_enabled(bool enabled) = 0;
  // Runs then once every line queued so far is in the box. Whatever reads or
  // waits on the window goes through here, so the box is never behind what the
  // user is asked or told.
  virtual void after_log_shown(std::function<void()> then) = 0;
  // New lines are queued for the log box.
  virtual void log_arrived() = 0;
  // Create the prompt window anew, show it and return; on_closed runs when it
  // has closed by either way.
  virtual void open_extraction_code_prompt(std::function<void()> on_closed) = 0;
  virtual void open_captcha_prompt(std::function<void()> on_closed) = 0;
  // The choice of files when the user wants one: on_closed gets the choice
  // and its mask (JobView::choose_files), at once or when the window closed.
  // files stays as it is until then.
  virtual void open_file_choice(const FileList& files,
                                std::function<void(FileChoice, std::string)> on_closed) = 0;
};

}  // namespace sharelink
