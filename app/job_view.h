#pragma once

// What the resolve job needs of the windows: the desktop front end, the terminal
// front end and the tests each provide one. Lines appear in call order; a front
// end may show them later than the call, but before it does anything else the
// job asks of it.

#include <string>

#include "share/share_client.h"

namespace sharelink {

// Which files of a share get a link.
enum class FileChoice {
  all,      // every file, the list as it is
  chosen,   // those the mask keeps
  listed,   // those the mask keeps (all with none), and no link is wanted
  gave_up,  // the user closed the choice
};

class JobView {
 public:
  virtual ~JobView() = default;

  // The text of the URL box.
  virtual std::string read_url() = 0;
  // Disabled while the job runs: no input in the URL box, and the parse button
  // stops the job instead of starting one.
  virtual void set_input_enabled(bool enabled) = 0;
  // Appends text as it is to the end of the log box and scrolls it into view.
  virtual void append_log(const std::string& text) = 0;
  // Shows the extraction-code prompt and returns when it has closed. Its OK
  // handler stores the (non-empty) answer in AppState::extraction_code; its
  // close box stores nothing.
  virtual void show_extraction_code_prompt() = 0;
  // The same for the captcha prompt and AppState::captcha_answer; the prompt
  // fetches its picture with AppState::job_status as the captcha kind.
  virtual void show_captcha_prompt() = 0;
  // The share's whole list is built and no link has been requested. For
  // chosen and listed, a mask of one character per entry of files, '1' for
  // the entries to keep (ShareTree::chosen_mask); an empty one keeps them all.
  // Only asked when the list holds a file.
  virtual FileChoice choose_files(const FileList& /*files*/, std::string& /*mask*/) {
    return FileChoice::all;
  }
  // How far the running resolve is; called often, between requests, on the
  // job's thread. Not part of the log.
  virtual void show_progress(const ResolveProgress&) {}
};

}  // namespace sharelink
