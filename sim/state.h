#pragma once

// Everything the simulator changes while it serves: request counters, the
// request log, issued captchas, per-share progress and the stop signal. Requests
// arrive on many threads; one mutex guards it all, and no caller holds it while
// doing I/O.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sim/fixture.h"
#include "sim/knobs.h"

namespace sharelink::sim {

struct LogEntry {
  std::uint64_t seq = 0;
  std::string method;
  std::string path;
  std::string query;  // raw, as sent
  std::string body;
  std::string cookie;  // the Cookie header
  std::string referer;
  std::string endpoint;   // "" for addresses the service does not know
  std::string violation;  // why the request was refused with errno 2
  std::string fault;      // the injected fault, if any
};

struct CaptchaRecord {
  std::string answer;
  std::string prod;  // "shareverify" or "pan"
};

// What clients of the service sent since the start; the /__sim/ hooks are left
// out, so that a script asking for these numbers does not change them.
struct Traffic {
  std::uint64_t connections = 0;  // TCP connections that carried a request
  std::uint64_t requests = 0;
};

// The fault and latency picked for one request.
struct Admission {
  std::optional<FaultKind> fault;
  std::uint32_t latency_ms = 0;
  std::uint64_t count = 0;  // 1-based number of the request at its endpoint
};

class SimState {
 public:
  SimState(const Fixture& fixture);

  Admission admit(Endpoint endpoint);
  Knobs knobs() const;
  void set_knobs(const Knobs& knobs);

  // Counts one request; first_on_connection: the first its connection carried.
  void count_request(bool first_on_connection);
  Traffic traffic() const;

  void log(LogEntry entry);
  std::vector<LogEntry> log_entries() const;
  std::uint64_t next_request_id();

  // Returns the new captcha's id (vcode_str).
  std::string issue_captcha(const std::string& prod);
  std::optional<CaptchaRecord> find_captcha(const std::string& id) const;
  // Whether answer is right for the id and kind; the id is used up either way.
  bool redeem_captcha(const std::string& id, std::string_view answer, std::string_view prod);

  // True only for the first page fetch of the share since start or reset.
  bool first_page_fetch(std::size_t share);
  bool verify_wants_captcha(std::size_t share, const CaptchaPolicy& policy) const;
  void count_wrong_code(std::size_t share);
  void clear_wrong_codes(std::size_t share);
  // Counts one download request of the share and tells whether it may be
  // served, given whether it carried a right captcha answer.
  bool admit_download(std::size_t share, const CaptchaPolicy& policy, bool answered);

  std::uint64_t random_number();

  // Forgets counters, log, captchas and share progress; the traffic stays.
  void reset();

  void request_stop();
  // Waits up to ms; true when the server is stopping.
  bool wait_for_stop(std::uint32_t ms);

 private:
  struct ShareProgress {
    bool fetched = false;
    std::uint64_t wrong_codes = 0;
    std::uint64_t downloads = 0;
    bool captcha_pending = false;
  };

  mutable std::mutex mutex_;
  std::condition_variable stop_signal_;
  bool stopping_ = false;
  Knobs knobs_;
  std::array<std::uint64_t, kEndpointCount> counts_{};
  Traffic traffic_;
  std::deque<LogEntry> log_;
  std::uint64_t log_seq_ = 0;
  std::uint64_t request_id_ = 0;
  std::unordered_map<std::string, CaptchaRecord> captchas_;
  std::deque<std::string> captcha_order_;
  std::vector<ShareProgress> shares_;
  std::mt19937_64 random_;
};

}  // namespace sharelink::sim
