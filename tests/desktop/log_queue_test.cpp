#include "app/desktop/log_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sharelink {
namespace {

// Reports reach the box whole, in order, in slices that end at line ends and
// stay near 16 KiB, however the job's text arrived.
TEST(LogBacklog, HandsOutEverythingInWholeLinesOfBoundedSlices) {
  const std::string line(100, 'x');
  std::string report;
  for (int i = 0; i < 2000; ++i)
    report += line + std::to_string(i) + "\r\n";
  const std::string long_line(40 * 1024, 'y');
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::size_t longest_line;
  };
  const std::vector<Case> cases = {
      {"one take", {report}, 110},
      {"takes cut mid-line",
       {report.substr(0, 5000), report.substr(5000, 30000), report.substr(35000)},
       110},
      {"a line longer than a slice", {"a\n" + long_line + "\nb\n"}, long_line.size() + 1},
      {"no line end at all", {long_line}, long_line.size()},
  };
  for (const Case& c : cases) {
    LogBacklog backlog;
    std::string shown, sent;
    std::vector<std::string> slices;
    for (const std::string& piece : c.pieces) {
      backlog.add(piece);
      sent += piece;
      // Half of what is there goes out before the next piece comes.
      for (int i = 0; i < 2 && !backlog.empty(); ++i)
        slices.push_back(backlog.next_slice());
    }
    while (!backlog.empty())
      slices.push_back(backlog.next_slice());
    for (std::size_t i = 0; i < slices.size(); ++i) {
      shown += slices[i];
      EXPECT_LE(slices[i].size(), 16 * 1024 + c.longest_line) << c.name;
      if (i + 1 < slices.size() && sent.find('\n') != std::string::npos &&
          slices[i].size() > 16 * 1024) {
        EXPECT_EQ(slices[i].back(), '\n') << c.name << ": slice " << i;
      }
    }
    EXPECT_EQ(shown, sent) << c.name;
    EXPECT_EQ(backlog.next_slice(), "") << c.name;
  }
}

TEST(LogBacklog, ClearDropsWhatWasNotShown) {
  LogBacklog backlog;
  backlog.add(std::string(50 * 1024, 'a') + "\n" + std::string(50 * 1024, 'b') + "\n");
  EXPECT_FALSE(backlog.next_slice().empty());
  backlog.clear();
  EXPECT_TRUE(backlog.empty());
  backlog.add("new\n");
  EXPECT_EQ(backlog.next_slice(), "new\n");
}

}  // namespace
}  // namespace sharelink
