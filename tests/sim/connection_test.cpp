// Connections as a keep-alive client sees them: kept for any number of
// requests, closed when idle, each new one paying the connect latency once.

#include <poll.h>

#include <chrono>
#include <memory>

#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace sharelink::sim::testing {
namespace {

using Clock = std::chrono::steady_clock;

class Connections : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<Simulator>(demo_fixture());
    ASSERT_TRUE(sim->start());
  }
  void TearDown() override { curl_easy_cleanup(kept); }

  // The public demo page over the one connection this client keeps open.
  Exchange on_kept_connection(long timeout_ms = 10000) {
    Call call;
    call.reuse = kept;
    call.timeout_ms = timeout_ms;
    return fetch(page(), call);
  }
  std::string page() const { return sim->share_url("1PubDemoXq7Ra"); }
  void set_connect_latency(std::uint32_t ms) {
    Knobs knobs = sim->knobs();
    knobs.connect_latency_ms = ms;
    sim->set_knobs(knobs);
  }

  std::unique_ptr<Simulator> sim;
  CURL* kept = curl_easy_init();
};

TEST_F(Connections, AKeptAliveClientIsOneConnectionForAnyNumberOfRequests) {
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(on_kept_connection().status, 200) << i;
  EXPECT_EQ(fetch(page()).status, 200);
  EXPECT_EQ(sim->connections_seen(), 2u);
  EXPECT_EQ(sim->requests_seen(), 9u);
  // Asking through the hooks changes nothing, and a reset leaves the counts.
  sim->reset();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(fetch(sim->origin() + "/__sim/stats").json(),
              nlohmann::json::parse(R"({"connections":2,"requests":9})"));
  }
}

TEST_F(Connections, ConnectLatencyIsPaidOncePerConnection) {
  set_connect_latency(100);
  const auto start = Clock::now();
  EXPECT_EQ(on_kept_connection().status, 200);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
  // A new connection would now wait an hour; the open one is past its handshake.
  set_connect_latency(static_cast<std::uint32_t>(kLongestDelayMs));
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(on_kept_connection().status, 200) << i;
  Call impatient;
  impatient.timeout_ms = 300;
  EXPECT_EQ(fetch(page(), impatient).code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(sim->connections_seen(), 1u);
  EXPECT_EQ(sim->requests_seen(), 7u);
}

TEST_F(Connections, AClientBackFromAPauseConnectsAgain) {
  EXPECT_EQ(on_kept_connection().status, 200);
  curl_socket_t socket = CURL_SOCKET_BAD;
  ASSERT_EQ(curl_easy_getinfo(kept, CURLINFO_ACTIVESOCKET, &socket), CURLE_OK);
  ASSERT_NE(socket, CURL_SOCKET_BAD);
  // Idle past the keep-alive time, the connection is closed by the server.
  pollfd closed{socket, POLLIN, 0};
  ASSERT_EQ(poll(&closed, 1, 10000), 1);
  EXPECT_EQ(on_kept_connection().status, 200);
  EXPECT_EQ(sim->connections_seen(), 2u);
  EXPECT_EQ(sim->requests_seen(), 2u);
}

}  // namespace
}  // namespace sharelink::sim::testing
