// sharelink-cli --verbose: one line per HTTP exchange on stderr, the log on
// stdout untouched.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "cli/cli_process.h"
#include "e2e/sim_harness.h"
#include "http/test_server.h"

namespace sharelink::testing {
namespace {

// Every "[YYYY-MM-DD hh:mm:ss]" time stamp of a log put as "[T]".
std::string without_times(const std::string& log) {
  const std::string shape = "[dddd-dd-dd dd:dd:dd]";
  std::string out;
  for (std::size_t at = 0; at < log.size();) {
    bool stamp = log.compare(at, 1, "[") == 0 && at + shape.size() <= log.size();
    for (std::size_t i = 0; stamp && i < shape.size(); ++i) {
      const char c = log[at + i];
      stamp = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c == shape[i];
    }
    out += stamp ? "[T]" : log.substr(at, 1);
    at += stamp ? shape.size() : 1;
  }
  return out;
}

// "METHOD URL -> STATUS, N bytes, T.TTT s"
bool is_exchange_line(const std::string& text) {
  const std::size_t arrow = text.find(" -> ");
  const std::string method = text.substr(0, text.find(' '));
  if (arrow == std::string::npos ||
      (method != "GET" && method != "POST" && method != "HEAD" && method != "PUT")) {
    return false;
  }
  const char* rest = text.c_str() + arrow + 4;
  int status = 0;
  unsigned long long bytes = 0;
  double seconds = 0;
  int used = 0;
  return std::sscanf(rest, "%3d, %llu bytes, %lf s%n", &status, &bytes, &seconds, &used) == 3 &&
         static_cast<std::size_t>(used) == std::strlen(rest) && status >= 100 && status <= 599;
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
    // The job gives up after the request and its two new tries; nothing else
    // reaches stderr.
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;
    EXPECT_NE(plain.out().find(u8"解析状态: 网络请求失败,3秒后重试(2/2)\r\n"), std::string::npos);
  }
}

TEST(CliTrace, EveryExchangeOfAJobHasALine) {
  SimHarness sim(SimHarness::demo_fixture());
  CliProcess cli({"-v", sim.link("1PubDemoXq7Ra")});
  ASSERT_EQ(cli.finish(), 0);
  const std::string& err = cli.err();
  std::size_t lines = 0;
  for (std::size_t at = 0; at < err.size();) {
    const std::size_t end = err.find('\n', at);
    ASSERT_NE(end, std::string::npos) << err;
    const std::string text = err.substr(at, end - at);
    EXPECT_TRUE(is_exchange_line(text)) << text;
    at = end + 1;
    ++lines;
  }
  EXPECT_GE(lines, 2u) << err;
  EXPECT_EQ(err.find("GET " + sim.link("1PubDemoXq7Ra") + " -> 200, "), 0u) << err;
}

}  // namespace
}  // namespace sharelink::testing
