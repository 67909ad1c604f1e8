#pragma once

// The simulator as an HTTP or HTTPS server on a loopback port, for tests
// in-process and for the sharelink-sim program. A second port is the content
// host, another origin, that the download links redirect to.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/fixture.h"
#include "sim/knobs.h"
#include "sim/state.h"
#include "sim/test_certs.h"

namespace sharelink::sim {

class Simulator {
 public:
  // Serves plain http.
  explicit Simulator(Fixture fixture);
  // Serves https with identity's certificate and key. An empty identity: a
  // throwaway test CA and a certificate it signed for 127.0.0.1 and localhost
  // are made, and ca_certificate_pem() is what a client is to trust. A
  // certificate or key that cannot be used makes start() fail. Everything else
  // is as over http (connection counts, keep-alive, faults); a connection whose
  // handshake fails carries no request and is not counted.
  Simulator(Fixture fixture, TlsIdentity identity);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Binds host:port (0: an ephemeral port) and an ephemeral port of host for
  // the content host, and serves on background threads.
  // False with a reason when the port cannot be bound or it already runs.
  bool start(const std::string& host, int port, std::string& error);
  bool start() {
    std::string error;
    return start("127.0.0.1", 0, error);
  }
  // Ends held ("hang") requests and waits for the serving threads. Idempotent.
  void stop();

  int port() const;
  std::string origin() const;  // "http://127.0.0.1:PORT", "https://..." over TLS
  std::string share_url(const std::string& surl) const;

  // The content host: "http://127.0.0.1:PORT" ("https://..." over TLS). A
  // download link answers 302 with an address there, whose bytes are made by
  // fill_file_content (sim/file_content.h), shaped by Knobs::content.
  std::string content_origin() const;
  int content_port() const;
  // Since the start or the last reset: body bytes the content host wrote, and
  // the connections to it that carried a request.
  std::uint64_t content_bytes_served() const;
  std::uint64_t content_connections_seen() const;

  bool uses_tls() const;
  // The made CA's certificate; empty over http or with an identity given.
  const std::string& ca_certificate_pem() const;

  std::vector<LogEntry> requests() const;
  // Since the start (a reset leaves them), the /__sim/ hooks left out: the TCP
  // connections that carried a request, and the requests.
  std::uint64_t connections_seen() const;
  std::uint64_t requests_seen() const;
  std::optional<std::string> captcha_answer(const std::string& vcode_str) const;
  Knobs knobs() const;
  void set_knobs(const Knobs& knobs);
  void add_fault(const FaultRule& rule);
  // Forgets the request log, counters, captchas and share progress; the
  // content host's counters start again from 0.
  void reset();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sharelink::sim
