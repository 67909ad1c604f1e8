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
  // One line after the log names the request and why, without the query.
  const std::string cause = u8"请求 GET /s/1Closed 失败: 无法连接到 " +
                            link.substr(7, link.find("/s/") - 7) + u8" (拒绝连接)\n";
  EXPECT_EQ(plain.err(), cause);
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
    // reaches stderr but the cause.
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 4) << err;
    EXPECT_EQ(err.substr(err.size() - cause.size()), cause) << err;
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

// Eight requests at a time trace from their threads while the job keeps its
// status line: every line whole, a status line wiped before anything else
// (and, in the TSan build, no race on the console).
TEST(CliTrace, EightAtATimeOnATerminal) {
  sim::Fixture fixture = SimHarness::demo_fixture();
  fixture.knobs.latency_ms = 5;
  SimHarness sim(std::move(fixture));
  CliProcess cli({"--verbose", "--parallel", "8", sim.link("1DeepDemoM4nB")}, {}, SHARELINK_CLI_EXE,
                 true);
  ASSERT_EQ(cli.finish(), 0) << cli.err().substr(0, 4000);
  const std::string& err = cli.err();
  EXPECT_EQ(err.find("ThreadSanitizer"), std::string::npos) << err.substr(0, 4000);
  const std::string status = u8"\r解析中: ";
  std::size_t statuses = 0;
  for (std::size_t at = err.find(status); at != std::string::npos; at = err.find(status, at + 1)) {
    const std::size_t end = err.find("\x1b[K", at);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(err.find('\n', at), err.find('\n', end)) << err.substr(at, 300);
    EXPECT_TRUE(end + 3 == err.size() || err[end + 3] == '\r') << err.substr(at, 300);
    ++statuses;
  }
  EXPECT_GE(statuses, 1u);
  EXPECT_GE(std::count(err.begin(), err.end(), '\n'), 270) << err.substr(0, 4000);
}

}  // namespace
}  // namespace sharelink::testing
