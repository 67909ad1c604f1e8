#pragma once

// Servers for the HTTP client tests, all on ephemeral loopback ports: a
// cpp-httplib server for well-formed exchanges, and a raw socket server for the
// misbehaving ones (never answering, cutting a body, speaking no HTTP). The raw
// server also builds for Windows (winsock), where cpp-httplib is not at hand.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if __has_include(<httplib.h>)
#include <httplib.h>
#endif

namespace sharelink::test {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
using Socket = SOCKET;
inline int poll_sockets(pollfd* fds, unsigned count, int milliseconds) {
  return WSAPoll(fds, count, milliseconds);
}
inline void close_socket(Socket socket) {
  closesocket(socket);
}
constexpr int kSendFlags = 0;
#else
using Socket = int;
inline int poll_sockets(pollfd* fds, nfds_t count, int milliseconds) {
  return poll(fds, count, milliseconds);
}
inline void close_socket(Socket socket) {
  close(socket);
}
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

// A TCP socket listening on an ephemeral loopback port.
inline Socket listening_socket(int& port) {
#ifdef _WIN32
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  static_cast<void>(started);
#endif
  Socket listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listener, 8);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return listener;
}

// A connected pair of sockets: a byte written to [1] is the stop signal that
// threads wait for on [0] alongside their connections (Windows polls no pipe).
inline void stop_pair(Socket pair[2]) {
#ifdef _WIN32
  int port = 0;
  Socket listener = listening_socket(port);
  pair[1] = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  connect(pair[1], reinterpret_cast<sockaddr*>(&address), sizeof address);
  pair[0] = accept(listener, nullptr, nullptr);
  closesocket(listener);
#else
  int fds[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) fds[0] = fds[1] = -1;
  pair[0] = fds[0];
  pair[1] = fds[1];
#endif
}

// Spins until ready() holds or the deadline passes; returns ready().
template <typename Ready>
bool wait_for(Ready ready, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  auto deadline = Clock::now() + limit;
  while (!ready() && Clock::now() < deadline)
    std::this_thread::yield();
  return ready();
}

// Texts written by server threads and read by the test.
class Recorder {
 public:
  void add(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.push_back(std::move(text));
  }
  std::vector<std::string> all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

#if __has_include(<httplib.h>)
class PageServer {
 public:
  PageServer() {
    // Without it every small response waits for a delayed acknowledgement.
    server_.set_tcp_nodelay(true);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    wait_for([this] { return server_.is_running(); });
  }
  ~PageServer() {
    server_.stop();
    thread_.join();
  }
  httplib::Server& operator*() { return server_; }
  httplib::Server* operator->() { return &server_; }
  int port() const { return port_; }
  std::string url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(port_) + target;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};
#endif

// One accepted connection of RawServer.
class RawConnection {
 public:
  RawConnection(Socket fd, Socket stop_fd) : fd_(fd), stop_fd_(stop_fd) {}
  // For servers that speak more than plain text on the socket (TLS).
  Socket fd() const { return fd_; }
  // Reads one request: its header block and as many body bytes as its
  // Content-Length names (5 s at most).
  std::string read_request() {
    std::string text;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!complete(text) && Clock::now() < deadline && read_some(text)) {
    }
    return text;
  }
  // Appends what arrives next; false when the peer closed or the server stops.
  bool read_some(std::string& text) {
    char buffer[4096];
    pollfd fds[] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (poll_sockets(fds, 2, 5000) <= 0 || fds[1].revents != 0) return false;
    int n = static_cast<int>(recv(fd_, buffer, static_cast<int>(sizeof buffer), 0));
    if (n <= 0) return false;
    text.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  // False when the peer is gone.
  // Sends all of text, unless the server stops first: a client that reads
  // no more (or a socket its client library keeps open unread) cannot hold
  // the server's end up.
  bool send_text(const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
      pollfd ready[] = {{fd_, POLLOUT, 0}, {stop_fd_, POLLIN, 0}};
      if (poll_sockets(ready, 2, -1) < 0 || ready[1].revents != 0) return false;
      const auto size = static_cast<int>(std::min<std::size_t>(text.size() - sent, 1 << 16));
      const auto n = ::send(fd_, text.data() + sent, size, kSendFlags);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }
  // Holds the connection open until the server stops (10 s at most).
  void hold() {
    pollfd stop = {stop_fd_, POLLIN, 0};
    poll_sockets(&stop, 1, 10000);
  }
  // Paces a misbehaving reply: waits that long unless the server stops first
  // (then false).
  bool pause(std::chrono::milliseconds length) {
    pollfd stop = {stop_fd_, POLLIN, 0};
    return poll_sockets(&stop, 1, static_cast<int>(length.count())) == 0;
  }

 private:
  static bool complete(const std::string& text) {
    std::size_t end = text.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    std::string head = text.substr(0, end);
    for (char& c : head)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t field = head.find("\r\ncontent-length:");
    std::size_t length = field == std::string::npos ? 0 : std::stoul(head.substr(field + 18));
    return text.size() >= end + 4 + length;
  }

  Socket fd_;
  Socket stop_fd_;
};

// Accepts connections one after another and hands each to the handler, or,
// concurrent, serves each on a thread of its own.
class RawServer {
 public:
  explicit RawServer(std::function<void(RawConnection&)> handler, bool concurrent = false)
      : handler_(std::move(handler)), concurrent_(concurrent) {
    listen_fd_ = listening_socket(port_);
    stop_pair(stop_);
    thread_ = std::thread([this] { serve(); });
  }
  ~RawServer() {
    char byte = 0;
    if (::send(stop_[1], &byte, 1, kSendFlags) != 1) shutdown(listen_fd_, 2);
    thread_.join();
    for (std::thread& connection : connections_)
      connection.join();
    close_socket(listen_fd_);
    close_socket(stop_[0]);
    close_socket(stop_[1]);
  }
  int port() const { return port_; }
  std::string url(const std::string& target, const std::string& scheme = "http") const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + target;
  }

 private:
  void serve() {
    for (;;) {
      pollfd fds[] = {{listen_fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll_sockets(fds, 2, -1) < 0 || fds[1].revents != 0) return;
      Socket fd = accept(listen_fd_, nullptr, nullptr);
      if (fd == static_cast<Socket>(-1)) return;
      if (concurrent_) {
        connections_.emplace_back([this, fd] { serve_one(fd); });
      } else {
        serve_one(fd);
      }
    }
  }

  void serve_one(Socket fd) {
    RawConnection connection(fd, stop_[0]);
    handler_(connection);
    close_socket(fd);
  }

  std::function<void(RawConnection&)> handler_;
  bool concurrent_;
  std::vector<std::thread> connections_;  // only the serving thread adds to it
  Socket listen_fd_;
  Socket stop_[2];
  int port_ = 0;
  std::thread thread_;
};

// Answers every request with one fixed response and keeps each request's text.
struct CannedServer {
  explicit CannedServer(std::string response)
      : server([this, response](RawConnection& connection) {
          requests.add(connection.read_request());
          connection.send_text(response);
        }) {}
  std::string request(std::size_t index = 0) const {
    std::vector<std::string> all = requests.all();
    return index < all.size() ? all[index] : std::string();
  }
  Recorder requests;
  RawServer server;
};

// Serves every request a connection brings until the client closes it, and
// counts the connections it accepted. answer gets each request and its number on
// its connection (from 0).
struct KeepAliveServer {
  struct Answer {
    std::string response;  // empty: the connection is closed unanswered
    bool close_after = false;
  };
  using Answering = std::function<Answer(const std::string& request, int on_connection)>;

  // concurrent: each connection served on a thread of its own, so that one a
  // client left unread cannot hold up the next.
  explicit KeepAliveServer(Answering answer, bool concurrent = false)
      : server(
            [this, answer](RawConnection& connection) {
              ++accepted;
              for (int n = 0;; ++n) {
                std::string request = connection.read_request();
                if (request.empty()) return;
                requests.add(request);
                Answer reply = answer(request, n);
                if (reply.response.empty()) return;
                connection.send_text(reply.response);
                if (reply.close_after) return;
              }
            },
            concurrent) {}

  std::atomic<int> accepted{0};
  Recorder requests;
  RawServer server;
};

inline std::string first_line(const std::string& text) {
  return text.substr(0, text.find("\r\n"));
}

// A loopback port nobody listens on: connecting to it is refused.
inline int unused_port() {
  int port = 0;
  close_socket(listening_socket(port));
  return port;
}

}  // namespace sharelink::test
