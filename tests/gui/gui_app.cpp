#include "gui/gui_app.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "file_text.h"
#include "sim/fixture.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

namespace sharelink::gui_testing {

namespace {

// Generous: the sanitizer builds are slow, and a wait ends as soon as its
// condition holds.
constexpr auto kLimit = 20s;
// Making a Wine prefix takes a while.
constexpr auto kWinePrefixLimit = 120s;

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;)
    words.push_back(word);
  return words;
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string wine_prefix() {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix && *prefix) return prefix;
  const std::string dpi = std::to_string(gui_program().dpi);
  return SHARELINK_BINARY_DIR "/gui-wineprefix" + (dpi == "96" ? "" : "-" + dpi);
}

// Wine sets APPDATA from the prefix's profile whatever the test's environment
// says, so the settings a run keeps would reach the prefix's later tests.
void forget_wine_settings() {
  std::error_code ignored;
  for (const auto& user :
       std::filesystem::directory_iterator(wine_prefix() + "/drive_c/users", ignored))
    std::filesystem::remove_all(user.path() / "AppData/Roaming/sharelink", ignored);
}

// Wine keeps its clipboard in the desktop process of the prefix, which
// outlives each program by a moment and belongs to the display it started on:
// the next test's program must not find it still there.
bool wine_left_display(XClient& x) {
  return wait_until([&] { return !x.any_program_windows(); }, kLimit);
}

// Wine draws each window's frame itself instead of leaving it to a window
// manager: there is none, and Wine would wait two seconds for one each time a
// window is hidden; the display's DPI is the prefix's. Set once per prefix,
// with the command's launcher on the test's display; true once Wine has let
// go of the display.
bool prepare_wine_prefix(const std::string& display, XClient& x) {
  static const bool ready = [&] {
    const std::string marker = wine_prefix() + "/.sharelink-gui-ready";
    const std::string dpi = std::to_string(gui_program().dpi);
    if (access(marker.c_str(), F_OK) == 0) return true;
    const std::vector<std::vector<std::string>> values = {
        {"HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N"},
        {"HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", dpi}};
    for (const std::vector<std::string>& value : values) {
      std::vector<std::string> command = gui_program().command;
      command.back() = "reg";
      command.insert(command.end(), {"add", "/f"});
      command.insert(command.end() - 1, value.begin(), value.end());
      const CommandResult added = run_command(
          command, {{"DISPLAY", display}, {"WINEPREFIX", wine_prefix()}}, kWinePrefixLimit);
      if (added.status != 0) return false;
    }
    // Only a shortcut: a run that finds no mark sets the value again.
    std::ofstream mark(marker);
    return true;
  }();
  return ready && wine_left_display(x);
}

// Names the files of a run; those of the Windows program start with
// "windows.", as its test names do in ctest.
std::string run_prefix() {
  if (!gui_program().windows) return "";
  return gui_program().dpi == 96 ? "windows." : "windows" + std::to_string(gui_program().dpi) + ".";
}

// Suite.Case of the running test.
std::string test_id() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(info->test_suite_name()) + "." + info->name();
}

std::string test_name() {
  return run_prefix() + test_id();
}

}  // namespace

const GuiProgram& gui_program() {
  static const GuiProgram program = [] {
    GuiProgram chosen;
    const char* command = std::getenv("SHARELINK_GUI_PROGRAM");
    chosen.command = words_of(command ? command : "");
    if (chosen.command.empty()) chosen.command = {SHARELINK_GUI_EXE};
    chosen.windows = ends_with(chosen.command.back(), ".exe");
    if (chosen.windows) {
      const char* dpi = std::getenv("SHARELINK_GUI_DPI");
      if (dpi && *dpi) chosen.dpi = std::atoi(dpi);
      // Wine's fixed frame: 3 pixels around at any DPI, a caption bar of 19
      // at 96 DPI and 28 at 144, its line below it included.
      const int caption = 19 * chosen.dpi / 96;
      chosen.layout_width = chosen.frame_width = 6;
      chosen.layout_height = 25;
      chosen.frame_height = 6 + caption;
      chosen.client_x = 3;
      chosen.client_y = 3 + caption;
    }
    return chosen;
  }();
  return program;
}

std::string output_dir() {
  const std::string dir = SHARELINK_BINARY_DIR "/gui-test-output";
  mkdir(dir.c_str(), 0755);
  return dir;
}

std::string GuiApp::program_path(const std::string& path) {
  return gui_program().windows ? "Z:" + path : path;
}

int at_dpi(int pixels) {
  // MulDiv's rounding of a positive value: halves up.
  return (pixels * gui_program().dpi + 48) / 96;
}

int count_of(const std::string& text, const std::string& needle) {
  int count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

void GuiApp::SetUp() {
  if (find_program("Xvfb").empty()) GTEST_SKIP() << "Xvfb is not installed";
  std::string error;
  ASSERT_TRUE(xvfb_.start(error)) << error;

  sim::Fixture fixture;
  ASSERT_TRUE(
      sim::load_fixture_file(SHARELINK_SOURCE_DIR "/sim/fixtures/demo.json", fixture, error))
      << error;
  fixture.quiet = true;
  configure(fixture);
  sim_ = std::make_unique<sim::Simulator>(std::move(fixture));
  ASSERT_TRUE(sim_->start("127.0.0.1", 0, error)) << error;

  const std::string dir = output_dir();
  mirror_path_ = dir + "/" + test_name() + ".log";
  char scratch[] = "/tmp/sharelink-gui-XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  scratch_ = scratch;
  const std::string config = program_path(scratch_ + "/config");
  env_ = {{"DISPLAY", xvfb_.display()},
          {"SHARELINK_LOG_MIRROR", program_path(mirror_path_)},
          {"XDG_CONFIG_HOME", config},
          {"APPDATA", config},
          {"LSAN_OPTIONS", "suppressions=" SHARELINK_SOURCE_DIR "/tests/gui/lsan.supp"}};
  x_ = std::make_unique<XClient>(xvfb_.display());
  ASSERT_TRUE(x_->connected());
  if (gui_program().windows) {
    ASSERT_TRUE(prepare_wine_prefix(xvfb_.display(), *x_))
        << "the Wine prefix " << wine_prefix() << " could not be set up";
    env_["WINEPREFIX"] = wine_prefix();
    forget_wine_settings();
  }
  environment(env_);
  ASSERT_TRUE(start_program());
}

bool GuiApp::start_program() {
  // A second run's stderr goes to a file of its own.
  const std::string err =
      output_dir() + "/" + test_name() + (app_.pid() > 0 ? ".again" : "") + ".stderr";
  if (!app_.start(gui_program().command, env_, "", err)) return false;
  return wait_until([&] { return has_window(kMainTitle); }, kLimit);
}

void GuiApp::restart() {
  x_->press_close_box(main_window().id);
  ASSERT_EQ(app_.wait(kLimit), 0);
  if (gui_program().windows) {
    ASSERT_TRUE(wine_left_display(*x_));
  }
  ASSERT_TRUE(start_program());
}

void GuiApp::TearDown() {
  if (HasFailure()) report_state();
  // The program must still run, and end cleanly by its close box: status 0
  // also means no sanitizer found anything on the way out.
  if (expect_running_ && app_.pid() > 0 && x_) {
    ASSERT_EQ(app_.wait(0ms), std::nullopt) << "the program ended on its own";
    for (const TopWindow& window : x_->windows(app_.pid())) {
      if (titled(window, kMainTitle)) x_->press_close_box(window.id);
    }
    const std::optional<int> status = app_.wait(kLimit);
    // What held it up: a question, a window that stayed.
    if (status != 0) report_state();
    EXPECT_EQ(status, 0);
  }
  app_.stop();
  if (gui_program().windows && x_) {
    EXPECT_TRUE(wine_left_display(*x_));
  }
  x_.reset();
  if (sim_) sim_->stop();
  if (!scratch_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }
}

void GuiApp::report_state() {
  // A failure seen only on a loaded CI machine must say what the user would
  // have seen: the windows, the end of the log, the last requests.
  std::ostringstream report;
  report << "windows of the program:";
  if (x_ && app_.pid() > 0) {
    for (const TopWindow& window : x_->windows(app_.pid())) {
      report << " [" << window.title << " at " << window.x << "," << window.y << "]";
      screenshot(window, "failed." + test_id() + "." + std::to_string(window.id));
    }
  }
  const std::string text = gbk_to_utf8(log());
  const std::size_t tail = text.size() > 2000 ? text.size() - 2000 : 0;
  report << "\nend of the log:\n" << text.substr(tail) << "\nlast requests to the service:\n";
  if (sim_) {
    const std::vector<sim::LogEntry> requests = sim_->requests();
    const std::size_t first = requests.size() > 12 ? requests.size() - 12 : 0;
    for (std::size_t i = first; i < requests.size(); ++i) {
      const sim::LogEntry& entry = requests[i];
      report << "  " << entry.method << " " << entry.path << "?" << entry.query.substr(0, 120)
             << " " << entry.endpoint << " " << entry.violation << " " << entry.fault << "\n";
    }
  }
  std::cerr << report.str();
}

bool titled(const TopWindow& window, const std::string& title) {
  if (window.title == title) return true;
  return title == kMainTitle && window.title.rfind(kProgressTitle, 0) == 0;
}

bool GuiApp::has_window(const std::string& title) {
  for (const TopWindow& window : x_->windows(app_.pid())) {
    if (titled(window, title)) return true;
  }
  return false;
}

TopWindow GuiApp::wait_window(const std::string& title, unsigned long not_id) {
  TopWindow found;
  const bool seen = wait_until(
      [&] {
        for (const TopWindow& window : x_->windows(app_.pid())) {
          if (titled(window, title) && window.id != not_id) found = window;
        }
        return found.id != 0;
      },
      kLimit);
  EXPECT_TRUE(seen) << "no window titled " << title;
  return found;
}

void GuiApp::expect_layout(const TopWindow& window, int outer_width, int outer_height,
                           const std::vector<layout::Box>& boxes) {
  const GuiProgram& program = gui_program();
  EXPECT_EQ(window.x, 50);
  EXPECT_EQ(window.y, 50);
  EXPECT_EQ(window.width, at_dpi(outer_width - program.layout_width) + program.frame_width);
  EXPECT_EQ(window.height, at_dpi(outer_height - program.layout_height) + program.frame_height);
  expect_boxes(window, boxes);
}

void GuiApp::expect_boxes(const TopWindow& window, const std::vector<layout::Box>& boxes) {
  const GuiProgram& program = gui_program();
  // A box is where pixels differ from the face (at the corner) in the place
  // the layout gives it and a little around.
  using Edges = std::array<int, 4>;  // left, top, right, bottom (outside)
  constexpr int kSlack = 4;          // rounding, a box's edge
  const auto near = [](const Edges& a, const Edges& b) {
    return std::equal(a.begin(), a.end(), b.begin(),
                      [](int p, int q) { return std::abs(p - q) <= kSlack; });
  };
  for (const layout::Box& box : boxes) {
    const Edges place{at_dpi(box.x), at_dpi(box.y), at_dpi(box.x + box.w), at_dpi(box.y + box.h)};
    const int left = place[0] - kSlack - 1, top = place[1] - kSlack - 1;
    const int width = place[2] + kSlack + 1 - left, height = place[3] + kSlack + 1 - top;
    Edges found{};
    // A new window shows what was on the screen there until first drawn.
    wait_until(
        [&] {
          const std::vector<unsigned long> pixels =
              x().pixels(window.id, program.client_x + left, program.client_y + top, width, height);
          found = {INT_MAX, INT_MAX, 0, 0};
          for (std::size_t at = 0; at < pixels.size(); ++at) {
            const int px = left + static_cast<int>(at) % width;
            const int py = top + static_cast<int>(at) / width;
            if (pixels[at] != pixels[0])
              found = {std::min(found[0], px), std::min(found[1], py), std::max(found[2], px + 1),
                       std::max(found[3], py + 1)};
          }
          return near(found, place);
        },
        10s);
    EXPECT_TRUE(near(found, place)) << "box at " << ::testing::PrintToString(found) << ", not "
                                    << ::testing::PrintToString(place);
  }
}

std::vector<unsigned long> client_pixels(XClient& x, const TopWindow& window, int left, int top,
                                         int width, int height) {
  // Both edges scaled, as the program places its boxes.
  return x.pixels(window.id, gui_program().client_x + at_dpi(left),
                  gui_program().client_y + at_dpi(top), at_dpi(left + width) - at_dpi(left),
                  at_dpi(top + height) - at_dpi(top));
}

int colours_of(const std::vector<unsigned long>& pixels) {
  return static_cast<int>(std::set<unsigned long>(pixels.begin(), pixels.end()).size());
}

EnvChanges GuiApp::tool_env() const {
  // xdotool types characters through the locale's keyboard mapping.
  return {{"DISPLAY", xvfb_.display()}, {"LC_ALL", "C.UTF-8"}};
}

void GuiApp::resize_window(const TopWindow& window, int width, int height) {
  const std::string id = std::to_string(window.id);
  if (!gui_program().windows) {
    run_tool({"xdotool", "windowsize", id, std::to_string(width), std::to_string(height)});
    return;
  }
  // The bottom right corner of the frame, within its border.
  const auto corner = [&](int w, int h) {
    return std::vector<std::string>{std::to_string(window.x + w - 2),
                                    std::to_string(window.y + h - 2)};
  };
  const auto from = corner(window.width, window.height), to = corner(width, height);
  run_tool({"xdotool", "mousemove", from[0], from[1], "mousedown", "1", "mousemove", to[0], from[1],
            "mousemove", to[0], to[1], "mouseup", "1"});
}

void GuiApp::move_window(const TopWindow& window, int x, int y) {
  if (!gui_program().windows) {
    run_tool(
        {"xdotool", "windowmove", std::to_string(window.id), std::to_string(x), std::to_string(y)});
    return;
  }
  // By the caption, left of its buttons.
  const int dx = 40, dy = gui_program().client_y / 2;
  run_tool({"xdotool", "mousemove", std::to_string(window.x + dx), std::to_string(window.y + dy),
            "mousedown", "1", "mousemove", std::to_string(x + dx), std::to_string(window.y + dy),
            "mousemove", std::to_string(x + dx), std::to_string(y + dy), "mouseup", "1"});
}

void GuiApp::run_tool(const std::vector<std::string>& argv) {
  const CommandResult result = run_command(argv, tool_env());
  EXPECT_EQ(result.status, 0) << argv[0] << " " << argv[1];
}

void GuiApp::click(const TopWindow& window, Spot spot, int times) {
  run_tool({"xdotool", "mousemove",
            std::to_string(window.x + gui_program().client_x + at_dpi(spot.x)),
            std::to_string(window.y + gui_program().client_y + at_dpi(spot.y)), "click", "--repeat",
            std::to_string(times), "--delay", "30", "1"});
}

void GuiApp::type(const std::string& text) {
  run_tool({"xdotool", "type", "--delay", "5", "--", text});
}

void GuiApp::key(const std::string& name) {
  run_tool({"xdotool", "key", name});
}

void GuiApp::fill(const TopWindow& window, Spot spot, const std::string& text) {
  click(window, spot);
  key("ctrl+a");
  if (text.empty()) {
    key("BackSpace");
  } else {
    type(text);
  }
}

void GuiApp::paste(const TopWindow& window, Spot spot, const std::string& text) {
  const std::string file = output_dir() + "/" + test_name() + ".paste";
  std::ofstream(file, std::ios::binary) << text;
  run_tool({"xclip", "-selection", "clipboard", "-i", file});
  click(window, spot);
  key("ctrl+a");
  key("ctrl+v");
}

std::string GuiApp::read_box(const TopWindow& window, Spot spot) {
  // The box's own copy command puts the selected text on the clipboard.
  run_tool({"xclip", "-selection", "clipboard", "-i", "/dev/null"});
  click(window, spot);
  key("ctrl+a");
  key("ctrl+c");
  std::string text;
  wait_until(
      [&] {
        text = x_clipboard();
        return !text.empty();
      },
      5s);
  return text;
}

void GuiApp::dismiss_message(const std::string& title) {
  const TopWindow box = wait_window(title);
  // The box's one button has the keyboard focus; the key goes to the window
  // under the pointer.
  run_tool(
      {"xdotool", "mousemove", std::to_string(box.x + box.width / 2), std::to_string(box.y + 10)});
  key("Return");
  EXPECT_TRUE(wait_until([&] { return !has_window(title); }, kLimit)) << title << " stayed open";
}

std::string GuiApp::log() {
  return testing::file_text(mirror_path_);
}

bool GuiApp::wait_log(const std::string& needle, int count) {
  return wait_until([&] { return count_of(log(), needle) >= count; }, kLimit);
}

bool GuiApp::wait_job_end(int jobs) {
  if (!wait_log("\r\n" + std::string(88, '-') + "\r\n\r\n", jobs)) return false;
  // The separator is shown before the job gives the controls back; a click on
  // a control still disabled would be lost. A job's window shows its progress
  // in the title from its start, and names the program again with the
  // controls back.
  return wait_until(
      [&] {
        for (const TopWindow& window : x_->windows(app_.pid())) {
          if (window.title == kMainTitle) return true;
        }
        return false;
      },
      kLimit);
}

std::string GuiApp::x_clipboard() {
  return run_command({"xclip", "-selection", "clipboard", "-o"}, tool_env(), 5s).out;
}

std::string GuiApp::clipboard() {
  const std::string text = x_clipboard();
  return gui_program().windows ? replace_all(text, "\n", "\r\n") : text;
}

void GuiApp::screenshot(const TopWindow& window, const std::string& name) {
  const std::string dir = SHARELINK_BINARY_DIR "/screenshots";
  mkdir(dir.c_str(), 0755);
  char id[32];
  std::snprintf(id, sizeof id, "0x%lx", window.id);
  run_tool({"import", "-window", id, dir + "/" + run_prefix() + name + ".png"});
}

void GuiApp::resolve(const std::string& link_text) {
  const TopWindow window = main_window();
  fill(window, kUrlBox, link_text);
  click(window, kParseButton);
}

}  // namespace sharelink::gui_testing
