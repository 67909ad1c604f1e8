#pragma once

// The content host: the second origin the download links redirect to. It
// checks the link again (its User-Agent and age), then streams the file's bytes
// made on the spot, whole or one byte range, shaped by the content knobs:
// paced per response, a cap on the responses of one file, bodies cut short,
// Range ignored, files shorter than listed.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include <httplib.h>

#include "sim/connections.h"
#include "sim/service.h"

namespace sharelink::sim {

class ContentHost {
 public:
  ContentHost(Service& service, std::unique_ptr<httplib::Server> server);

  // Serves on an ephemeral port of host.
  bool start(const std::string& host, std::string& error);
  void stop() { server_.stop(); }
  bool running() const { return server_.running(); }
  int port() const { return port_; }

  // Since the start or the last reset: body bytes written, and the connections
  // that carried a request.
  std::uint64_t bytes_served() const { return bytes_served_; }
  std::uint64_t connections_seen() const { return connections_seen_; }
  void reset_counters();

 private:
  using Slot = std::shared_ptr<void>;
  void serve(const httplib::Request& req, httplib::Response& res);
  void refuse(httplib::Response& res, int status, const std::string& why) const;
  // A place among the responses of the file under way, held until the body
  // is done or given up; empty when `most` (> 0) are under way.
  Slot take_slot(std::uint64_t fs_id, std::uint64_t most);
  void stream_body(httplib::Response& res, std::uint64_t fs_id, std::uint64_t first,
                   std::uint64_t length, const ContentKnobs& knobs, Slot slot);

  Service& service_;
  BackgroundServer server_;
  int port_ = 0;
  std::atomic<std::uint64_t> bytes_served_{0};
  std::atomic<std::uint64_t> connections_seen_{0};
  std::mutex slots_mutex_;
  std::unordered_map<std::uint64_t, std::uint64_t> under_way_;  // per fs_id
};

}  // namespace sharelink::sim
