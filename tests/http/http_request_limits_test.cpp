// Servers that never stall and never finish, and bodies that are too big: a call
// ends within its time limits and holds memory in proportion to what it keeps.

#ifdef _WIN32
// winsock2.h (through the test server) before windows.h, psapi.h after it.
#include <winsock2.h>

#include <windows.h>

#include <psapi.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "test_server.h"
#include "transport_traits.h"

namespace sharelink {
namespace {

using std::chrono::milliseconds;
using test::Clock;
using test::first_line;
using test::RawConnection;
using test::RawServer;

struct Endless {
  const char* name;
  int timeout_seconds;
  // Serves one connection; the server runs it for every connection it accepts.
  std::function<void(RawConnection&)> serve;
  int failure;
  const char* status_text;
  std::chrono::seconds within;
  // Ended by the header block's bound: where the transport has none, the
  // deadline (ten times the timeout) ends it.
  bool by_header_bound = false;
};

// Sends the head, then the drip every pace until the client goes away.
std::function<void(RawConnection&)> dripping(std::string head, std::string drip,
                                             milliseconds pace) {
  return [head = std::move(head), drip = std::move(drip), pace](RawConnection& connection) {
    connection.read_request();
    if (!connection.send_text(head)) return;
    while (connection.pause(pace) && connection.send_text(drip)) {
    }
  };
}

const char kBodyHead[] = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";

void PrintTo(const Endless& endless, std::ostream* out) {
  *out << endless.name;
}

class EndlessReply : public ::testing::TestWithParam<Endless> {};

TEST_P(EndlessReply, EndsAsAStallWould) {
  const Endless& c = GetParam();
  RawServer server(c.serve);
  HttpRequest request;
  request.url = server.url("/");
  request.cookies = "A=1";
  request.timeout_seconds = c.timeout_seconds;
  std::chrono::seconds within = c.within;
  if (c.by_header_bound && !test::header_block_bounded()) {
    within = std::chrono::seconds(10 * c.timeout_seconds + 2);
  }
  auto start = Clock::now();
  HttpResponse response = http_request(request);
  EXPECT_LT(Clock::now() - start, within);
  EXPECT_EQ(response.failure, c.failure);
  EXPECT_EQ(response.status_text, c.status_text);
  if (c.failure == kHttpFailureBodyRead) {
    EXPECT_FALSE(response.body.empty());
    EXPECT_EQ(response.body.find_first_not_of('x'), std::string::npos);
  } else {
    EXPECT_EQ(response.cookies, "A=1");
  }
}

// Every wait of these servers is shorter than the timeout, so no stall ends them.
INSTANTIATE_TEST_SUITE_P(
    HostileServers, EndlessReply,
    ::testing::Values(
        // Ten times the timeout ends the call.
        Endless{"BodyDripsAByteEveryHalfSecond", 1, dripping(kBodyHead, "x", milliseconds(500)),
                kHttpFailureBodyRead, "200 OK", std::chrono::seconds(12)},
        Endless{"HeaderLinesDripEveryHalfSecond", 1,
                dripping("HTTP/1.1 200 OK\r\n", "X-Wait: 1\r\n", milliseconds(500)), 712,
                "712 服务器未响应!", std::chrono::seconds(12)},
        // Header lines as fast as they go: the block stops at a bound, long
        // before the deadline.
        Endless{"HeaderLinesWithoutEnd", 1,
                dripping("HTTP/1.1 200 OK\r\n", "X-Pad: " + std::string(1000, 'p') + "\r\n",
                         milliseconds(0)),
                712, "712 服务器未响应!", std::chrono::seconds(5), true},
        // The deadline spans the redirects: 30 legs would take 24 s.
        Endless{"RedirectsAnsweredJustBeforeTheStall", 1,
                [](RawConnection& connection) {
                  while (!connection.read_request().empty() &&
                         connection.pause(milliseconds(800)) &&
                         connection.send_text("HTTP/1.1 302 Found\r\nLocation: /again\r\n"
                                              "Content-Length: 0\r\n\r\n")) {
                  }
                },
                712, "712 服务器未响应!", std::chrono::seconds(12)},
        // Less than a byte a second over a period of the timeout ends it long
        // before the deadline (20 s).
        Endless{"BodyBelowAByteASecond", 2, dripping(kBodyHead, "x", milliseconds(1500)),
                kHttpFailureBodyRead, "200 OK", std::chrono::seconds(9)}),
    [](const ::testing::TestParamInfo<Endless>& info) { return std::string(info.param.name); });

// Resident memory of one call in a child process beyond what the child started
// with, so that nothing else of the test binary counts.
struct CallMemory {
  int failure = -1;
  std::size_t body_size = 0;
  long peak_kib = 0;
};

#ifdef _WIN32
// Each test runs in a process of its own under ctest, so the peak of the
// process is the peak of the call.
CallMemory measure_call(const HttpRequest& request) {
  PROCESS_MEMORY_COUNTERS before{}, after{};
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
  HttpResponse response = http_request(request);
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
  const auto grown = after.PeakWorkingSetSize > before.WorkingSetSize
                         ? after.PeakWorkingSetSize - before.WorkingSetSize
                         : 0;
  return {response.failure, response.body.size(), static_cast<long>(grown / 1024)};
}
#else
long resident_kib() {
  long pages = 0;
  long resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

CallMemory measure_call(const HttpRequest& request) {
  CallMemory memory;
  int channel[2];
  if (pipe(channel) != 0) return memory;
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    long start = resident_kib();
    HttpResponse response = http_request(request);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    CallMemory measured{response.failure, response.body.size(), usage.ru_maxrss - start};
    _exit(write(channel[1], &measured, sizeof measured) == sizeof measured ? 0 : 1);
  }
  close(channel[1]);
  if (child > 0 && read(channel[0], &memory, sizeof memory) != sizeof memory) memory = CallMemory{};
  close(channel[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return memory;
}

#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST(BigBodies, MemoryStaysInProportionToTheBody) {
  if (kSanitized) GTEST_SKIP() << "sanitizers hold freed memory back";
  constexpr std::size_t kLimit = std::size_t{64} << 20;
  struct Case {
    const char* target;
    std::size_t announced;
    int failure;
    std::size_t kept;
  };
  const std::vector<Case> cases = {
      {"/60MB", 60'000'000, 0, 60'000'000},
      {"/200MB", 200'000'000, kHttpFailureBodyRead, kLimit},
  };
  std::atomic<std::size_t> accepted_bytes{0};
  // Sends the page from one small block, so that the test's own memory stays small.
  RawServer server([&](RawConnection& connection) {
    std::string request = connection.read_request();
    std::size_t size =
        first_line(request).find("/200MB") != std::string::npos ? 200'000'000 : 60'000'000;
    std::size_t sent = 0;
    if (connection.send_text("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(size) + "\r\n\r\n")) {
      const std::string block(1 << 16, 'p');
      while (sent < size &&
             connection.send_text(block.substr(0, std::min(block.size(), size - sent))))
        sent += std::min(block.size(), size - sent);
    }
    accepted_bytes = sent;
  });
  for (const Case& c : cases) {
    HttpRequest request;
    request.url = server.url(c.target);
    request.timeout_seconds = 10;
    CallMemory memory = measure_call(request);
    EXPECT_EQ(memory.failure, c.failure) << c.target;
    EXPECT_EQ(memory.body_size, c.kept) << c.target;
    // The body and its text: twice the body, and room for the reading.
    EXPECT_LT(static_cast<double>(memory.peak_kib) * 1024, 4.0 * static_cast<double>(c.kept))
        << c.target << ": " << memory.peak_kib << " KiB";
    ASSERT_TRUE(test::wait_for([&] { return accepted_bytes != 0; })) << c.target;
    // Reading stops at the cap: the sockets' buffers take a few megabytes more.
    std::size_t accepted = accepted_bytes.exchange(0);
    if (c.announced > kLimit) {
      EXPECT_LT(accepted, kLimit + (std::size_t{32} << 20)) << c.target;
    }
  }
}

}  // namespace
}  // namespace sharelink
