#pragma once

// One run of the desktop program for a test: a private Xvfb display, the service
// simulator in-process, the program started on the display with its log
// mirrored to a file, and the user's hands (xdotool) and eyes (window list,
// clipboard, screenshots).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/desktop/layout.h"
#include "gui/gui_harness.h"
#include "sim/server.h"

namespace sharelink::gui_testing {

// Window titles as the X server holds them (UTF-8).
inline const std::string kMainTitle = "sharelink " SHARELINK_VERSION;
inline const std::string kCodeTitle = u8"请输入提取密码";
inline const std::string kCaptchaTitle = u8"请输入验证码";
inline const std::string kMessageTitle = u8"信息：";
inline const std::string kCaptchaFailedTitle = u8"验证码获取失败";
inline const std::string kChoiceTitle = u8"选择文件";
inline const std::string kDownloadTitle = u8"下载";
// While a job runs the main window's title shows its progress instead.
inline const std::string kProgressTitle = u8"sharelink — 解析中 ";

// The title names the window: the main window goes by either of its titles.
bool titled(const TopWindow& window, const std::string& title);

// The window program under test: the Linux build's own, or the command that
// SHARELINK_GUI_PROGRAM names, its words separated by spaces. A command whose
// last word ends in ".exe" runs a Windows program under Wine, e.g.
//   SHARELINK_GUI_PROGRAM="/work/main/scripts/wine-run /work/main/build-windows/bin/sharelink.exe"
// in the prefix $WINEPREFIX (else <build>/gui-wineprefix, -DPI appended but at
// 96), which the tests set to draw each window's frame itself (no window
// manager is running) at SHARELINK_GUI_DPI (96 unless set). Each test ends
// when Wine has left its display: Wine keeps its clipboard in a process of the
// prefix that outlives the program and serves the display it started on. The
// tests of one prefix must therefore run one at a time.
struct GuiProgram {
  std::vector<std::string> command;
  bool windows = false;
  // The Windows program scales the layout by dpi / 96, FLTK's keeps it. A
  // layout's outer size is a client area at 96 DPI in a frame of layout_*; the
  // X window at 50, 50 holds it at the DPI at client_x, client_y, in a frame_*
  // (none in FLTK's X window, which is its client area).
  int dpi = 96;
  int layout_width = 8, layout_height = 29, frame_width = 0, frame_height = 0;
  int client_x = 0, client_y = 0;
};
const GuiProgram& gui_program();

// Pixels of the layout at the program's DPI, rounded as the program does.
int at_dpi(int pixels);

// Control centres, relative to their window's client area, at 96 DPI.
struct Spot {
  int x, y;
};

// What the window shows in the rectangle (at 96 DPI) of its client area,
// and how many different colours that is.
std::vector<unsigned long> client_pixels(XClient& x, const TopWindow& window, int left, int top,
                                         int width, int height);
int colours_of(const std::vector<unsigned long>& pixels);
constexpr Spot centre(const layout::Box& box) {
  return {box.x + box.w / 2, box.y + box.h / 2};
}
// The log box with the row below it (先选择文件 and 下载), which lies too close
// to tell its edges from the box's.
constexpr layout::Box log_box_and_row(const layout::MainBoxes& boxes) {
  return {boxes.log.x, boxes.log.y, boxes.download.x + boxes.download.w - boxes.log.x,
          boxes.download.y + boxes.download.h - boxes.log.y};
}
constexpr Spot kUrlBox{200, 25};
constexpr Spot kParseButton{435, 25};
constexpr Spot kClearButton{498, 25};
constexpr Spot kCopyButton{560, 25};
constexpr Spot kLogBox{300, 200};
constexpr Spot kCodeBox{56, 27};
constexpr Spot kCodeOk{158, 28};
constexpr Spot kCaptchaPicture{68, 28};
constexpr Spot kCaptchaBox{184, 28};
constexpr Spot kCaptchaOk{286, 29};

class GuiApp : public ::testing::Test {
 protected:
  // Knobs for the simulator before the program starts; the demo shares.
  virtual void configure(sim::Fixture&) {}
  // The program's environment beyond the harness's own.
  virtual void environment(EnvChanges&) {}

  void SetUp() override;
  void TearDown() override;

  std::string link(const std::string& surl) const { return sim_->share_url(surl); }
  sim::Simulator& sim() { return *sim_; }
  Process& app() { return app_; }
  XClient& x() { return *x_; }

  // The newest window with this title, once it is there.
  TopWindow wait_window(const std::string& title, unsigned long not_id = 0);
  // Expects the window at 50, 50 of the screen with the layout's outer size,
  // and the boxes (edged controls, or a picture shown) drawn at their places
  // of the layout at the program's DPI, within 4 pixels, once they are drawn.
  void expect_layout(const TopWindow& window, int outer_width, int outer_height,
                     const std::vector<layout::Box>& boxes = {});
  // The same boxes alone, in a window of any size.
  void expect_boxes(const TopWindow& window, const std::vector<layout::Box>& boxes);
  bool has_window(const std::string& title);
  TopWindow main_window() { return wait_window(kMainTitle); }

  // The user's input: xdotool with the pointer at the spot of the window;
  // several clicks come 30 ms apart.
  void click(const TopWindow& window, Spot spot, int times = 1);
  void type(const std::string& text);
  void key(const std::string& name);
  // Replaces the text of the edit box at spot.
  void fill(const TopWindow& window, Spot spot, const std::string& text);
  // Replaces the text of the edit box at spot by pasting text (UTF-8): for
  // characters xdotool cannot type.
  void paste(const TopWindow& window, Spot spot, const std::string& text);
  // The text of the edit box at spot (UTF-8), read by select all and copy.
  std::string read_box(const TopWindow& window, Spot spot);
  // Presses OK in the message box with this title and waits until it is gone.
  void dismiss_message(const std::string& title);

  // The log as the program wrote it (local text with CR LF).
  std::string log();
  // Waits until the log holds needle count times.
  bool wait_log(const std::string& needle, int count = 1);
  // Waits until the job has ended as the user sees it: the separator line that
  // ends its log is there, and the controls are back.
  bool wait_job_end(int jobs = 1);
  // The clipboard as the program put it. Wine hands text to X with its CR LF
  // line ends turned into LF; they are turned back here.
  std::string clipboard();
  // Saves the window's picture as <build>/screenshots/<name>.png (of the
  // Windows program: windows.<name>.png, at 144 DPI windows144.<name>.png).
  void screenshot(const TopWindow& window, const std::string& name);

  // Starts a job on the link.
  void resolve(const std::string& link_text);

  // Closes the program by its close box, expects it to end cleanly and starts
  // it again as before: what it kept of the first run is there.
  void restart();
  // A folder of the test's own, removed after it; the program's settings live
  // in it (XDG_CONFIG_HOME, APPDATA), so that no test moves another's window.
  const std::string& scratch() const { return scratch_; }
  // A path as the program names it: under Wine the Unix root is drive Z:.
  static std::string program_path(const std::string& path);

  // Gives the window this outer size or place on the screen, as the user
  // does. Wine, which draws the frames of its windows itself here, hears of
  // neither from the X server: it is the frame that is dragged.
  void resize_window(const TopWindow& window, int width, int height);
  void move_window(const TopWindow& window, int x, int y);

  // Runs an X tool on the test's display and expects it to succeed.
  void run_tool(const std::vector<std::string>& argv);

 private:
  EnvChanges tool_env() const;
  // Says on stderr, and in screenshots, where a failed test left the program.
  void report_state();
  // The clipboard as X holds it.
  std::string x_clipboard();

  bool start_program();

  Xvfb xvfb_;
  std::string scratch_;
  EnvChanges env_;
  std::unique_ptr<sim::Simulator> sim_;
  Process app_;
  std::unique_ptr<XClient> x_;
  std::string mirror_path_;
  bool expect_running_ = true;

 protected:
  // Tests that end the program themselves say so.
  void program_ends_itself() { expect_running_ = false; }
};

// <build>/gui-test-output, made when missing: logs and stderr of the runs.
std::string output_dir();

// Counts non-overlapping occurrences.
int count_of(const std::string& text, const std::string& needle);

}  // namespace sharelink::gui_testing
