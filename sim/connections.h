#pragma once

// The serving threads of the simulator's servers. cpp-httplib hands its task
// queue one task per accepted connection and serves all of that connection's
// requests inside it, on one thread; so the thread knows its connection.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <httplib.h>

#include "sim/state.h"

namespace sharelink::sim {

// Pays the connect latency at the start of each connection's task, before its
// first request is read.
class ConnectionQueue : public httplib::TaskQueue {
 public:
  ConnectionQueue(SimState& state, std::size_t threads) : state_(state), pool_(threads) {}

  void enqueue(std::function<void()> serve_connection) override;
  void shutdown() override { pool_.shutdown(); }

 private:
  SimState& state_;
  httplib::ThreadPool pool_;
};

// True for the first request of the connection the calling serving thread
// works on; false for later ones and outside a ConnectionQueue.
bool first_request_on_connection();

// A cpp-httplib server set up the simulator's way (serving threads, keep-alive,
// time limits, backlog) and run on a thread of its own. The same for http and
// https: cpp-httplib's TLS server runs each connection's handshake inside the
// connection's task, so all of it holds for TLS as it is.
class BackgroundServer {
 public:
  BackgroundServer(std::unique_ptr<httplib::Server> server, SimState& state, std::size_t threads);
  ~BackgroundServer() { stop(); }
  BackgroundServer(const BackgroundServer&) = delete;
  BackgroundServer& operator=(const BackgroundServer&) = delete;

  httplib::Server& server() { return *server_; }
  // Binds host:port (0: an ephemeral port); the port, or -1 with a reason.
  int bind(const std::string& host, int port, std::string& error);
  // Serves what bind() bound, from now on.
  void run();
  // Waits for the serving threads. Idempotent.
  void stop();
  bool running() const { return thread_.joinable(); }

 private:
  std::unique_ptr<httplib::Server> server_;
  int listen_socket_ = -1;
  std::thread thread_;
};

}  // namespace sharelink::sim
