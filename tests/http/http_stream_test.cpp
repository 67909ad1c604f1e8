// The streaming call: any size in order without piling up, stall against slow
// body, a receiver's or a cancel's stop, and the redirect and origin rules.

#include "test_server.h"  // winsock2.h before windows.h

#ifdef _WIN32
#include <psapi.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_stream.h"

namespace sharelink {
namespace {

using test::Clock;
using test::RawConnection;
using test::RawServer;

std::uint64_t resident_bytes() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize;
#else
  std::uint64_t pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
#endif
}

HttpRequest stream_request(const std::string& url, int timeout = 5) {
  HttpRequest request;
  request.url = url;
  request.timeout_seconds = timeout;
  return request;
}

// Keeps of what arrives its statuses, an order-sensitive hash (FNV-1a), the
// count and the peak of resident memory; stops where told.
struct Receiver {
  std::vector<long> statuses;
  std::uint64_t hash = 1469598103934665603ull;
  std::uint64_t bytes = 0;
  std::uint64_t memory_at_start = resident_bytes();
  std::uint64_t memory_peak = memory_at_start;
  std::atomic<bool> flowing{false};
  HttpStreamSink sink(bool stop_at_headers = false, bool stop_at_body = false) {
    return {[this, stop_at_headers](long code, const std::string&) {
              statuses.push_back(code);
              return !stop_at_headers;
            },
            [this, stop_at_body](const char* data, std::size_t length) {
              for (std::size_t i = 0; i < length; ++i)
                hash = (hash ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
              if ((bytes += length) % (std::uint64_t{8} << 20) < length)
                memory_peak = std::max(memory_peak, resident_bytes());
              flowing = true;
              return !stop_at_body;
            }};
  }
};

TEST(HttpStream, BodyFarPastTheRequestLimitArrivesWholeInOrderInFlatMemory) {
  constexpr std::uint64_t kSize = std::uint64_t{160} << 20;
  Receiver sent;  // the same bytes through the same hash
  std::atomic<bool> all_sent{false};
  RawServer server([&](RawConnection& connection) {
    connection.read_request();
    connection.send_text("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kSize) +
                         "\r\n\r\n");
    std::string block(std::size_t{1} << 20, '\0');
    HttpStreamSink hash = sent.sink();
    for (std::uint64_t at = 0; at < kSize; at += block.size()) {
      for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((at + i) * 2654435761u >> 13);
      hash.on_body(block.data(), block.size());
      if (!connection.send_text(block)) return;
    }
    all_sent = true;
  });
  Receiver received;
  HttpStreamResponse response = http_stream(stream_request(server.url("/big")), received.sink());
  EXPECT_EQ(response.failure, 0) << response.reason;
  EXPECT_EQ(response.body_bytes, kSize);
  test::wait_for([&] { return all_sent.load(); });  // the server's last lines
  EXPECT_EQ(received.hash, sent.hash);
  EXPECT_LT(received.memory_peak - received.memory_at_start, std::uint64_t{32} << 20);
}

// timeout 1 s throughout: a stall ends the call about that after the last
// byte, a body that keeps moving runs past it (and past the floor of a byte a
// second), a cancel amid the body ends it at once.
TEST(HttpStream, StallAndCancelEndItWhileASlowSteadyBodyGoesOn) {
  struct {
    const char* name;
    int pieces;   // of 4 bytes, every 0.5 s; then the server holds the line
    bool cancel;  // once the first piece came
    int failure;
    HttpCause cause;
    double seconds;
  } const cases[] = {{"stall before the headers", -1, false, 711, HttpCause::timed_out, 1},
                     {"stall after the headers", 1, false, 711, HttpCause::timed_out, 1},
                     {"slow steady body for three limits", 6, false, 0, HttpCause::none, 2.5},
                     {"cancel amid the body", 1, true, 714, HttpCause::cancelled, 0}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    RawServer server([&](RawConnection& connection) {
      connection.read_request();
      if (row.pieces >= 0)
        connection.send_text(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") +
                             (row.failure ? "100" : "24") + "\r\n\r\n");
      for (int i = 0; i < row.pieces && connection.send_text("abcd"); ++i)
        connection.pause(std::chrono::milliseconds(500));
      connection.hold();
    });
    HttpRequest request = stream_request(server.url("/"), 1);
    auto cancel = std::make_shared<HttpCancel>();
    request.cancel = cancel;
    Receiver receiver;
    std::thread canceller([&] {
      if (row.cancel && test::wait_for([&] { return receiver.flowing.load(); })) cancel->cancel();
    });
    auto start = Clock::now();
    HttpStreamResponse response = http_stream(request, receiver.sink());
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    canceller.join();
    EXPECT_EQ(response.failure, row.failure) << response.reason;
    EXPECT_EQ(response.cause, row.cause);
    EXPECT_EQ(receiver.bytes, static_cast<std::uint64_t>(std::max(row.pieces, 0)) * 4);
    EXPECT_EQ(response.transient, row.failure == 711);
    EXPECT_GT(seconds, row.seconds - 0.3);
    EXPECT_LT(seconds, row.seconds + (row.cancel ? 0.3 : 2));
  }
}

// A receiver that stops the call leaves no connection behind for the next
// call on the pool; a stream that ran to its end does.
TEST(HttpStream, ReceiverStopsItAtOnceAndItsConnectionGoes) {
  struct {
    const char* name;
    bool stop_at_headers, stop_at_body;
    int failure;
    int connections;  // after a second call on the pool
  } const rows[] = {{"whole body", false, false, 0, 1},
                    {"refused at the headers", true, false, 713, 2},
                    {"refused amid the body", false, true, 713, 2}};
  const std::string body(std::size_t{4} << 20, 'x');
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    test::KeepAliveServer server(
        [&](const std::string&, int) -> test::KeepAliveServer::Answer {
          return {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                  body};
        },
        true);
    auto pool = make_connection_pool();
    HttpRequest request = stream_request(server.server.url("/file"));
    request.connections = pool;
    Receiver receiver;
    HttpStreamResponse response =
        http_stream(request, receiver.sink(row.stop_at_headers, row.stop_at_body));
    EXPECT_EQ(response.failure, row.failure) << response.reason;
    EXPECT_EQ(response.status, 200);
    if (row.failure != 0) {
      EXPECT_EQ(response.reason, kReasonReceiverStopped);
      EXPECT_EQ(response.cause, HttpCause::other);
      EXPECT_FALSE(response.transient);
      EXPECT_LE(receiver.bytes, std::uint64_t{1} << 20);
    }
    Receiver again;
    EXPECT_EQ(http_stream(request, again.sink()).failure, 0);
    EXPECT_EQ(again.bytes, body.size());
    EXPECT_EQ(server.accepted.load(), row.connections);
  }
}

TEST(HttpStream, RedirectToAnotherOriginReachesTheReceiverOnlyAsItsTarget) {
  test::CannedServer target("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfinal");
  test::CannedServer origin("HTTP/1.1 302 Found\r\nLocation: " + target.server.url("/content?x=1") +
                            "\r\nSet-Cookie: S=2\r\nContent-Length: 6\r\n\r\nmoving");
  HttpRequest request = stream_request(origin.server.url("/link"));
  request.cookies = "BDCLND=secret";
  Receiver receiver;
  HttpStreamResponse response = http_stream(request, receiver.sink());
  EXPECT_EQ(response.failure, 0) << response.reason;
  EXPECT_EQ(receiver.statuses, std::vector<long>{200});
  EXPECT_EQ(receiver.bytes, 5u);  // "final", not the redirect's "moving"
  EXPECT_EQ(response.final_url, target.server.url("/content?x=1"));
  EXPECT_EQ(response.cookies.value_or(""), "S=2; BDCLND=secret");
  EXPECT_NE(origin.request().find("BDCLND=secret"), std::string::npos);
  EXPECT_EQ(target.request().find("BDCLND"), std::string::npos);
}

}  // namespace
}  // namespace sharelink
