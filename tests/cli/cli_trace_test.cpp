// sharelink-cli --verbose: one line per HTTP exchange on stderr, the log on
// stdout untouched.

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "cli/cli_process.h"
#include "e2e/sim_harness.h"
#include "http/test_server.h"

namespace sharelink::testing {
namespace {

std::string without_times(const std::string& log) {
  static const std::regex stamp(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\])");
  return std::regex_replace(log, stamp, "[T]");
}

TEST(CliTrace, FailedRequestNamesItsCauseAndLeavesTheLogAlone) {
  const std::string link =
      "http://127.0.0.1:" + std::to_string(test::unused_port()) + "/s/1Closed?pwd=ab12";
  CliProcess plain({link});
  const int plain_status = plain.finish();
  EXPECT_EQ(plain_status, 1);
  EXPECT_EQ(plain.err(), "");
  for (const char* flag : {"-v", "--verbose"}) {
    SCOPED_TRACE(flag);
    CliProcess verbose({flag, link});
    EXPECT_EQ(verbose.finish(), plain_status);
    EXPECT_EQ(without_times(verbose.out()), without_times(plain.out()));
    const std::string& err = verbose.err();
    const std::string line_start = "GET http://127.0.0.1:";
    ASSERT_EQ(err.find(line_start), 0u) << err;
    EXPECT_NE(err.find("/s/1Closed"), std::string::npos) << err;
    EXPECT_NE(err.find(" -> failure 711 (" + std::string(u8"发送请求失败!") + "): "),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("connect"), std::string::npos) << err;
    EXPECT_EQ(err.find("ab12"), std::string::npos) << err;
    // The job gives up after the one request; nothing else reaches stderr.
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
  }
}

TEST(CliTrace, EveryExchangeOfAJobHasALine) {
  SimHarness sim(SimHarness::demo_fixture());
  CliProcess cli({"-v", sim.link("1PubDemoXq7Ra")});
  ASSERT_EQ(cli.finish(), 0);
  const std::string& err = cli.err();
  static const std::regex line(R"(^(GET|POST|HEAD|PUT) \S+ -> \d{3}, \d+ bytes, \d+\.\d{3} s$)");
  std::size_t lines = 0;
  for (std::size_t at = 0; at < err.size();) {
    const std::size_t end = err.find('\n', at);
    ASSERT_NE(end, std::string::npos) << err;
    const std::string text = err.substr(at, end - at);
    EXPECT_TRUE(std::regex_match(text, line)) << text;
    at = end + 1;
    ++lines;
  }
  EXPECT_GE(lines, 2u) << err;
  EXPECT_EQ(err.find("GET " + sim.link("1PubDemoXq7Ra") + " -> 200, "), 0u) << err;
}

}  // namespace
}  // namespace sharelink::testing
