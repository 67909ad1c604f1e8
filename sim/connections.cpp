#include "sim/connections.h"

#include <sys/socket.h>

#include <chrono>
#include <limits>

namespace sharelink::sim {
namespace {

constexpr int kListenBacklog = 256;
// A client keeps its connection for as many requests as it likes (cpp-httplib
// closes after 5 by default); one idle for the keep-alive timeout is closed, and
// a client back after a pause (a captcha being typed) simply connects again.
constexpr std::size_t kRequestsPerConnection = std::numeric_limits<int>::max();
constexpr time_t kKeepAliveSeconds = 1;

struct ConnectionRecord {
  bool carried_request = false;
};
thread_local ConnectionRecord* current_connection = nullptr;

}  // namespace

void ConnectionQueue::enqueue(std::function<void()> serve_connection) {
  pool_.enqueue([this, serve_connection = std::move(serve_connection)] {
    const std::uint32_t latency_ms = state_.knobs().connect_latency_ms;
    if (latency_ms > 0) state_.wait_for_stop(latency_ms);
    ConnectionRecord record;
    current_connection = &record;
    serve_connection();  // also closes the socket, so it runs even when stopping
    current_connection = nullptr;
  });
}

bool first_request_on_connection() {
  ConnectionRecord* connection = current_connection;
  const bool first = connection != nullptr && !connection->carried_request;
  if (connection != nullptr) connection->carried_request = true;
  return first;
}

BackgroundServer::BackgroundServer(std::unique_ptr<httplib::Server> server, SimState& state,
                                   std::size_t threads)
    : server_(std::move(server)) {
  server_->new_task_queue = [&state, threads] { return new ConnectionQueue(state, threads); };
  // Without it a reply written in pieces on a kept connection waits for the
  // client's delayed acknowledgement, some 40 ms each.
  server_->set_tcp_nodelay(true);
  server_->set_keep_alive_max_count(kRequestsPerConnection);
  server_->set_keep_alive_timeout(kKeepAliveSeconds);
  // Over TLS the read limit also bounds a handshake that never finishes.
  server_->set_read_timeout(10);
  server_->set_write_timeout(10);
  server_->set_payload_max_length(4u << 20);
  server_->set_socket_options([this](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listen_socket_ = sock;
  });
}

int BackgroundServer::bind(const std::string& host, int port, std::string& error) {
  const int bound =
      port == 0 ? server_->bind_to_any_port(host) : (server_->bind_to_port(host, port) ? port : -1);
  if (bound <= 0) {
    error = "cannot listen on " + host + ":" + std::to_string(port);
    return -1;
  }
  // cpp-httplib listens with a backlog of 5: a burst of clients would see
  // their connects dropped and retried a second later. Listening again on
  // the bound socket raises it.
  listen(listen_socket_, kListenBacklog);
  return bound;
}

void BackgroundServer::run() {
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only reaches a server whose loop has begun.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void BackgroundServer::stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

}  // namespace sharelink::sim
