// The log box as the user meets it: after thousands of appends it holds the
// log byte for byte, selecting copies exactly what is selected, and it can be
// edited without the log changing.

#include <gtest/gtest.h>

#include <cstdint>

#include "gui/gui_app.h"
#include "sim/fixture.h"
#include "text/text_encoding.h"

namespace sharelink::gui_testing {
namespace {

// The log as the box shows it: UTF-8 without the CRs.
std::string shown(const std::string& log) {
  return replace_all(gbk_to_utf8(log), "\r", "");
}

class LogBoxTest : public GuiApp {
  void configure(sim::Fixture& fixture) override {
    std::string error;
    ASSERT_TRUE(sim::add_generated_share(fixture, "1LogBox",
                                         {static_cast<std::uint64_t>(files()), 2, 4}, error))
        << error;
  }

 protected:
  // The Windows run a tenth the size, for the same reason as BigShareTest's.
  static int files() { return gui_program().windows ? 300 : 3000; }
};

TEST_F(LogBoxTest, HoldsALongLogByteForByteAndCopiesIt) {
  const TopWindow window = main_window();
  resolve(link("1LogBox"));
  ASSERT_TRUE(wait_job_end());
  const std::string expected = shown(log());
  ASSERT_GT(count_of(expected, "\n"), 5 * files());
  EXPECT_EQ(read_box(window, kLogBox), expected);
  // Selecting all makes it X's selection too, as the toolkit's editor did.
  if (!gui_program().windows) {
    run_tool({"sh", "-c", "xclip -selection primary -o | xclip -selection clipboard -i"});
    EXPECT_EQ(clipboard(), expected);
  }
}

TEST_F(LogBoxTest, TypingAndDeletingEditOnlyTheBox) {
  const TopWindow window = main_window();
  resolve(link("1PubDemoXq7Ra"));
  ASSERT_TRUE(wait_job_end());
  const std::string text = log();
  click(window, kLogBox);
  key("ctrl+End");
  type("abc");
  key("BackSpace");
  key("Return");
  type("x");
  EXPECT_EQ(read_box(window, kLogBox), shown(text) + "ab\nx");
  EXPECT_EQ(log(), text);

  // Three rows up from the start of the last: the separator, the empty line
  // after it and the typed line, with their line ends.
  key("ctrl+End");
  key("Home");
  for (int row = 0; row < 3; ++row)
    key("shift+Up");
  run_tool({"xclip", "-selection", "clipboard", "-i", "/dev/null"});
  key("ctrl+c");
  std::string copied;
  wait_until(
      [&] {
        copied = clipboard();
        return !copied.empty();
      },
      5s);
  const std::string line_end = gui_program().windows ? "\r\n" : "\n";
  EXPECT_EQ(copied, std::string(88, '-') + line_end + line_end + "ab" + line_end);
}

}  // namespace
}  // namespace sharelink::gui_testing
