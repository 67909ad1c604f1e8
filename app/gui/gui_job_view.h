#pragma once

// The resolve job's view of the desktop windows. Every call crosses to the main
// thread through the bridge and returns when it is done there; once the program
// is closing, calls return at once without touching any window (a read then
// gives "", a prompt counts as closed without an answer).

#include <string>

#include "app/app_state.h"
#include "app/gui/main_window.h"
#include "app/gui/ui_bridge.h"
#include "app/job_view.h"

namespace sharelink {

class GuiJobView : public JobView {
 public:
  GuiJobView(AppState& state, UiBridge& bridge) : state_(state), bridge_(bridge) {}

  // Main thread, before the first job: the window the calls go to.
  void set_window(MainWindow* window) { window_ = window; }

  std::string read_url() override;
  void set_input_enabled(bool enabled) override;
  void append_log(const std::string& text) override;
  void show_extraction_code_prompt() override;
  void show_captcha_prompt() override;

 private:
  AppState& state_;
  UiBridge& bridge_;
  MainWindow* window_ = nullptr;
};

}  // namespace sharelink
