#pragma once

// The program's main window: the URL box, the parse, clear and copy buttons and
// the log box.

#include <cstdio>
#include <memory>
#include <string>

#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Editor.H>

#include "app/app_state.h"
#include "app/gui/job_launcher.h"
#include "app/gui/ui_bridge.h"

namespace sharelink {

// The text part of the caption is ours to choose.
constexpr const char* kMainCaption = "False_Tarnwick_example.com";

class MainWindow : public Fl_Double_Window {
 public:
  // log_mirror: a file that receives every text appended to the log box as it
  // is (local text with its CR LF line ends) and is emptied with it; null for
  // none. Tests read the log there.
  MainWindow(AppState& state, JobLauncher& jobs, UiBridge& bridge, std::FILE* log_mirror);
  ~MainWindow() override;

  // What the job's view needs; main thread only. Texts are local text.
  std::string url_text() const;
  void set_input_enabled(bool enabled);
  void append_log(const std::string& text);

 private:
  void on_parse_clicked();
  void on_clear_clicked();
  void on_copy_clicked();
  // The close box: releases a waiting job and closes every window, which ends
  // the event loop.
  void on_close();

  AppState& state_;
  JobLauncher& jobs_;
  UiBridge& bridge_;
  std::FILE* log_mirror_;
  // Outlives the log box, which refers to it until the window's children are
  // deleted in the destructor.
  std::unique_ptr<Fl_Text_Buffer> log_text_;
  Fl_Input* 编辑框_URL;
  Fl_Button* 按钮1;
  Fl_Button* 按钮2;
  Fl_Button* 按钮3;
  Fl_Text_Editor* 编辑框_日志;
};

}  // namespace sharelink
