#pragma once

// A loopback HTTP/1.1 server whose every reply is scripted, so that it can
// misbehave in the ways a hostile service would: any status and header lines,
// a Content-Length that lies or is missing, a body dripped a few bytes at a
// time, generated padding of any size streamed without holding it in memory,
// the connection closed or held open after the reply. Each connection is
// served on a thread of its own; every request is kept for the test to look
// at. Stopping (the destructor) ends every connection at once, whatever it
// is doing.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sharelink::faults {

inline std::string lower_ascii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

struct Request {
  int number = 0;  // order of arrival at the server, from 1
  std::string method;
  std::string target;  // as sent: path and query
  std::string head;    // request line and header lines, each ending in CR LF
  std::string body;

  std::string path() const { return target.substr(0, target.find('?')); }
  std::string query() const {
    const std::size_t mark = target.find('?');
    return mark == std::string::npos ? std::string() : target.substr(mark + 1);
  }
  // Value of the first header line of that name (any letter case).
  std::optional<std::string> header(const std::string& name) const {
    const std::string wanted = lower_ascii(name) + ":";
    for (std::size_t at = head.find("\r\n"); at != std::string::npos;
         at = head.find("\r\n", at + 2)) {
      const std::size_t start = at + 2;
      const std::size_t end = head.find("\r\n", start);
      if (end == std::string::npos) break;
      const std::string line = head.substr(start, end - start);
      if (lower_ascii(line.substr(0, wanted.size())) != wanted) continue;
      const std::size_t value = line.find_first_not_of(' ', wanted.size());
      return value == std::string::npos ? std::string() : line.substr(value);
    }
    return std::nullopt;
  }
};

struct Reply {
  std::string status = "200 OK";
  std::string headers;  // extra header lines, each ending in CR LF
  // The body on the wire: body, then padding bytes of pad, then tail.
  std::string body;
  std::uint64_t padding = 0;
  char pad = ' ';
  std::string tail;
  // Content-Length: the true size unless declared_length names another, none
  // at all with no_length (the body then ends when the connection does).
  std::optional<std::uint64_t> declared_length;
  bool no_length = false;
  // drip_bytes > 0: the body goes out in pieces of that many bytes, one every
  // drip_every.
  std::size_t drip_bytes = 0;
  std::chrono::milliseconds drip_every{0};
  // What the connection does after the reply: serve the next request, close,
  // or stay open unread until the server stops.
  enum class Then { next, close, hold } then = Then::next;

  std::uint64_t size() const { return body.size() + padding + tail.size(); }
};

class HostileServer {
 public:
  using Answer = std::function<Reply(const Request&)>;

  // Listens at once, so that the port is known before start.
  HostileServer() {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listen_fd_, 16) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe2(stop_pipe_, O_CLOEXEC) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
  }

  ~HostileServer() {
    const char byte = 0;
    if (stop_pipe_[1] >= 0 && write(stop_pipe_[1], &byte, 1) != 1) {
      shutdown(listen_fd_, SHUT_RDWR);
    }
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> connections;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connections.swap(connections_);
    }
    for (std::thread& connection : connections)
      connection.join();
    for (int fd : {listen_fd_, stop_pipe_[0], stop_pipe_[1]}) {
      if (fd >= 0) close(fd);
    }
  }

  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  // answer is called for one request at a time, in the order they arrive.
  void start(Answer answer) {
    answer_ = std::move(answer);
    if (port_ != 0) acceptor_ = std::thread([this] { accept_connections(); });
  }

  int port() const { return port_; }
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  std::vector<Request> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int connections_accepted() const { return accepted_.load(); }

 private:
  static constexpr std::size_t kHeadLimit = std::size_t{8} << 20;
  static constexpr std::size_t kBodyLimit = std::size_t{16} << 20;

  void accept_connections() {
    for (;;) {
      pollfd fds[] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 || fds[1].revents != 0) return;
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      ++accepted_;
      // Without it every reply sent in two writes waits for a delayed acknowledgement.
      const int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      std::lock_guard<std::mutex> lock(mutex_);
      connections_.emplace_back([this, fd] {
        serve(fd);
        close(fd);
      });
    }
  }

  void serve(int fd) {
    std::string buffer;
    for (;;) {
      Request request;
      if (!read_request(fd, buffer, request)) return;
      Reply reply;
      {
        std::lock_guard<std::mutex> answering(answer_mutex_);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          request.number = static_cast<int>(requests_.size()) + 1;
          requests_.push_back(request);
        }
        reply = answer_(request);
      }
      if (!send_reply(fd, reply)) return;
      if (reply.then == Reply::Then::hold) {
        stopping(std::chrono::milliseconds(-1));
        return;
      }
      // Without a length only the end of the connection ends the body.
      if (reply.then == Reply::Then::close || reply.no_length) return;
    }
  }

  // Waits up to limit (negative: until the server stops); true when it stops.
  bool stopping(std::chrono::milliseconds limit) const {
    pollfd stop = {stop_pipe_[0], POLLIN, 0};
    return poll(&stop, 1, static_cast<int>(limit.count())) != 0;
  }

  // Appends what arrives next; false when the peer closed or the server stops.
  bool receive(int fd, std::string& buffer) const {
    pollfd fds[] = {{fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) <= 0 || fds[1].revents != 0) return false;
    char chunk[65536];
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  bool read_request(int fd, std::string& buffer, Request& request) const {
    std::size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (buffer.size() > kHeadLimit || !receive(fd, buffer)) return false;
    }
    request.head = buffer.substr(0, end + 2);
    buffer.erase(0, end + 4);
    const std::size_t space = request.head.find(' ');
    const std::size_t second = request.head.find(' ', space + 1);
    if (space == std::string::npos || second == std::string::npos) return false;
    request.method = request.head.substr(0, space);
    request.target = request.head.substr(space + 1, second - space - 1);
    std::uint64_t length = 0;
    if (const auto field = request.header("Content-Length")) {
      length = std::strtoull(field->c_str(), nullptr, 10);
    }
    if (length > kBodyLimit) return false;
    const auto expect = request.header("Expect");
    if (expect && lower_ascii(*expect) == "100-continue" && buffer.size() < length &&
        !send_text(fd, "HTTP/1.1 100 Continue\r\n\r\n")) {
      return false;
    }
    while (buffer.size() < length) {
      if (!receive(fd, buffer)) return false;
    }
    request.body = buffer.substr(0, length);
    buffer.erase(0, length);
    return true;
  }

  // Sends every byte unless the peer goes away or the server stops first.
  bool send_bytes(int fd, const char* data, std::size_t size) const {
    while (size > 0) {
      pollfd fds[] = {{fd, POLLOUT, 0}, {stop_pipe_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) <= 0 || fds[1].revents != 0) return false;
      if ((fds[0].revents & (POLLERR | POLLHUP)) != 0) return false;
      const ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  bool send_text(int fd, const std::string& text) const {
    return send_bytes(fd, text.data(), text.size());
  }

  bool send_reply(int fd, const Reply& reply) const {
    std::string head = "HTTP/1.1 " + reply.status + "\r\n" + reply.headers;
    if (!reply.no_length) {
      head += "Content-Length: " + std::to_string(reply.declared_length.value_or(reply.size())) +
              "\r\n";
    }
    if (reply.then != Reply::Then::next || reply.no_length) head += "Connection: close\r\n";
    if (!send_text(fd, head + "\r\n")) return false;

    // The body in pieces, the padding made as it goes.
    const std::size_t piece = reply.drip_bytes > 0 ? reply.drip_bytes : std::size_t{1} << 16;
    std::string filler;
    std::uint64_t sent = 0;
    const std::uint64_t total = reply.size();
    while (sent < total) {
      std::string chunk;
      while (chunk.size() < piece && sent + chunk.size() < total) {
        const std::uint64_t at = sent + chunk.size();
        const std::size_t want = piece - chunk.size();
        if (at < reply.body.size()) {
          chunk.append(reply.body, static_cast<std::size_t>(at), want);
        } else if (at < reply.body.size() + reply.padding) {
          const std::uint64_t left = reply.body.size() + reply.padding - at;
          chunk.append(static_cast<std::size_t>(std::min<std::uint64_t>(left, want)), reply.pad);
        } else {
          chunk.append(reply.tail, static_cast<std::size_t>(at - reply.body.size() - reply.padding),
                       want);
        }
      }
      if (!send_text(fd, chunk)) return false;
      sent += chunk.size();
      if (reply.drip_bytes > 0 && sent < total && stopping(reply.drip_every)) return false;
    }
    return true;
  }

  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  int port_ = 0;
  Answer answer_;
  std::thread acceptor_;
  std::atomic<int> accepted_{0};
  std::mutex answer_mutex_;
  mutable std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::vector<Request> requests_;
};

}  // namespace sharelink::faults
