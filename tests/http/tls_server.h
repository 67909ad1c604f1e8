#pragma once

// A loopback server for the https tests: TLS and plain HTTP on one port,
// whichever the client opens with, so that a test sees whether anything ever
// went out unencrypted to an address the client was to reach securely, and
// can send a client from https to http on the very same host and port. Each
// connection carries one request, answered and closed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include "sim/test_certs.h"
#include "test_server.h"

namespace sharelink::test {

class DualSchemeServer {
 public:
  struct Seen {
    bool tls;
    std::string request;  // the header block (the tests send no bodies)
  };
  // The whole response to a request that came over TLS or not.
  using Answering = std::function<std::string(const std::string& request, bool tls)>;

  DualSchemeServer(const sim::TlsIdentity& identity, Answering answer)
      : answer_(std::move(answer)), ctx_(SSL_CTX_new(TLS_server_method())) {
    std::string error;
    if (!ctx_ || !sim::use_identity(ctx_.get(), identity, error)) ctx_.reset();
    // A client that gives up mid-reply must not end the test.
    std::signal(SIGPIPE, SIG_IGN);
  }
  DualSchemeServer(const DualSchemeServer&) = delete;
  DualSchemeServer& operator=(const DualSchemeServer&) = delete;

  bool ready() const { return ctx_ != nullptr; }
  int port() const { return server_.port(); }
  std::string url(const std::string& scheme, const std::string& target,
                  const std::string& host = "127.0.0.1") const {
    return scheme + "://" + host + ":" + std::to_string(port()) + target;
  }
  std::vector<Seen> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }
  int refused_handshakes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return refused_handshakes_;
  }

 private:
  struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
  };
  struct CtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
  };
  static constexpr std::size_t kHeaderLimit = 64 * 1024;

  void serve(int fd) {
    // Every read and write of a connection waits 5 s at most.
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    unsigned char first = 0;
    // A TLS connection opens with a handshake record, type 22.
    if (recv(fd, &first, 1, MSG_PEEK) == 1) {
      first == 22 ? serve_tls(fd) : serve_plain(fd);
    }
  }

  template <typename Read>
  static std::string read_header_block(Read read) {
    std::string text;
    char buffer[4096];
    while (text.find("\r\n\r\n") == std::string::npos && text.size() < kHeaderLimit) {
      const int n = read(buffer, static_cast<int>(sizeof buffer));
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }

  void record(bool tls, const std::string& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.push_back({tls, request});
  }

  // A connection closed before a request (a client that refused the
  // certificate once the handshake was over) is no request.
  void serve_plain(int fd) {
    const std::string request =
        read_header_block([fd](char* buffer, int size) { return recv(fd, buffer, size, 0); });
    if (request.empty()) return;
    record(false, request);
    const std::string response = answer_(request, false);
    send(fd, response.data(), response.size(), MSG_NOSIGNAL);
  }

  void serve_tls(int fd) {
    std::unique_ptr<SSL, SslFree> ssl(ctx_ ? SSL_new(ctx_.get()) : nullptr);
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_accept(ssl.get()) != 1) {
      ERR_clear_error();
      std::lock_guard<std::mutex> lock(mutex_);
      ++refused_handshakes_;
      return;
    }
    const std::string request = read_header_block(
        [&ssl](char* buffer, int size) { return SSL_read(ssl.get(), buffer, size); });
    if (request.empty()) return;
    record(true, request);
    const std::string response = answer_(request, true);
    SSL_write(ssl.get(), response.data(), static_cast<int>(response.size()));
    SSL_shutdown(ssl.get());
    ERR_clear_error();
  }

  Answering answer_;
  std::unique_ptr<SSL_CTX, CtxFree> ctx_;
  mutable std::mutex mutex_;
  std::vector<Seen> seen_;
  int refused_handshakes_ = 0;
  // Last, so that it starts serving once everything above is ready, and
  // stops before any of it goes.
  RawServer server_{[this](RawConnection& connection) { serve(connection.fd()); }};
};

// The CA written as SSL_CERT_FILE and SSL_CERT_DIR take it, in a folder of
// this process's own (tests of other processes write theirs at the same
// time), removed at the end.
class CaFolder {
 public:
  explicit CaFolder(const std::string& ca_pem) {
    static std::atomic<int> made{0};
    folder_ = ::testing::TempDir() + "sharelink-ca-" + std::to_string(getpid()) + "-" +
              std::to_string(made++);
    hashed_ = sim::hashed_file_name(ca_pem);
    ok_ = sim::write_ca_folder(folder_, ca_pem, file_, error_);
  }
  ~CaFolder() {
    unlink(file_.c_str());
    unlink((folder_ + "/" + hashed_).c_str());
    rmdir(folder_.c_str());
  }
  CaFolder(const CaFolder&) = delete;
  CaFolder& operator=(const CaFolder&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const std::string& file() const { return file_; }  // the CA alone, as ca.pem
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  std::string hashed_;
  std::string file_;
  std::string error_;
  bool ok_ = false;
};

// A complete response that closes its connection.
inline std::string response_text(const std::string& status, const std::string& headers,
                                 const std::string& body) {
  return "HTTP/1.1 " + status + "\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace sharelink::test
