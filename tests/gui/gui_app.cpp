#include "gui/gui_app.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "sim/fixture.h"

namespace sharelink::gui_testing {

namespace {

// Generous: the sanitizer builds are slow, and a wait ends as soon as its
// condition holds.
constexpr auto kLimit = 20s;

std::string test_name() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(info->test_suite_name()) + "." + info->name();
}

}  // namespace

std::string output_dir() {
  const std::string dir = SHARELINK_BINARY_DIR "/gui-test-output";
  mkdir(dir.c_str(), 0755);
  return dir;
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
  const EnvChanges env = {
      {"DISPLAY", xvfb_.display()},
      {"SHARELINK_LOG_MIRROR", mirror_path_},
      {"LSAN_OPTIONS", "suppressions=" SHARELINK_SOURCE_DIR "/tests/gui/lsan.supp"}};
  ASSERT_TRUE(app_.start({SHARELINK_GUI_EXE}, env, "", dir + "/" + test_name() + ".stderr"));
  x_ = std::make_unique<XClient>(xvfb_.display());
  ASSERT_TRUE(x_->connected());
  ASSERT_TRUE(wait_until([&] { return has_window(kMainTitle); }, kLimit));
}

void GuiApp::TearDown() {
  // The program must still run, and end cleanly by its close box: status 0
  // also means no sanitizer found anything on the way out.
  if (expect_running_ && app_.pid() > 0 && x_) {
    ASSERT_EQ(app_.wait(0ms), std::nullopt) << "the program ended on its own";
    for (const TopWindow& window : x_->windows(app_.pid())) {
      if (titled(window, kMainTitle)) x_->press_close_box(window.id);
    }
    EXPECT_EQ(app_.wait(kLimit), 0);
  }
  app_.stop();
  x_.reset();
  if (sim_) sim_->stop();
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

EnvChanges GuiApp::tool_env() const {
  // xdotool types characters through the locale's keyboard mapping.
  return {{"DISPLAY", xvfb_.display()}, {"LC_ALL", "C.UTF-8"}};
}

void GuiApp::run_tool(const std::vector<std::string>& argv) {
  const CommandResult result = run_command(argv, tool_env());
  EXPECT_EQ(result.status, 0) << argv[0] << " " << argv[1];
}

void GuiApp::click(const TopWindow& window, Spot spot) {
  run_tool({"xdotool", "mousemove", std::to_string(window.x + spot.x),
            std::to_string(window.y + spot.y), "click", "1"});
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
        text = clipboard();
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
  std::ifstream in(mirror_path_, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool GuiApp::wait_log(const std::string& needle, int count) {
  return wait_until([&] { return count_of(log(), needle) >= count; }, kLimit);
}

bool GuiApp::wait_job_end(int jobs) {
  return wait_log("\r\n" + std::string(88, '-') + "\r\n\r\n", jobs);
}

std::string GuiApp::clipboard() {
  return run_command({"xclip", "-selection", "clipboard", "-o"}, tool_env(), 5s).out;
}

void GuiApp::screenshot(const TopWindow& window, const std::string& name) {
  const std::string dir = SHARELINK_BINARY_DIR "/screenshots";
  mkdir(dir.c_str(), 0755);
  char id[32];
  std::snprintf(id, sizeof id, "0x%lx", window.id);
  run_tool({"import", "-window", id, dir + "/" + name + ".png"});
}

void GuiApp::resolve(const std::string& link_text) {
  const TopWindow window = main_window();
  fill(window, kUrlBox, link_text);
  click(window, kParseButton);
}

}  // namespace sharelink::gui_testing
