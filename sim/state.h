#pragma once

// Everything the simulator changes while it serves: request counters, the
// request log, issued captchas, per-share progress and the stop signal. Requests
// arrive on many threads; one mutex guards it all, and no caller holds it while
// doing I/O.

#include <array>
#include <chrono>
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
#include "sim/tokens.h"

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
  // Microseconds since the simulator was made: when the request came in, before
  // any latency, and when its reply was handed to the transport (a streamed body
  // may still be on its way). end_us stays 0 while the request is being answered,
  // a held ("hang") one for instance.
  std::uint64_t start_us = 0;
  std::uint64_t end_us = 0;
};

// The most requests to the endpoint (named as in LogEntry::endpoint; "" for
// every request) that were being answered at one moment. One that has not ended
// counts as under way from its start on; two that meet in one microsecond count
// as at once.
std::size_t max_in_flight(const std::vector<LogEntry>& log, const std::string& endpoint);

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

  // The log's clock: microseconds since this state was made.
  std::uint64_t now_us() const;
  // Returns the entry's seq, by which finish_log later sets its end_us (an entry
  // the log no longer holds is left alone).
  std::uint64_t log(LogEntry entry);
  void finish_log(std::uint64_t seq, std::uint64_t end_us);
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

  // Counts a download-link request of the share as under way until
  // leave_download(); true when cap (> 0) were already under way as it came.
  // A reset leaves these counts: the requests are still being answered.
  bool enter_download(std::size_t share, std::uint64_t cap);
  void leave_download(std::size_t share);

  // The sign of a share page served now (see Share::sign_expires_after).
  std::string issue_sign(std::size_t index, const Share& share, const Tokens& tokens,
                         std::uint64_t timestamp);
  enum class SignUse {
    current,  // counted as one of its requests
    stale,    // the service issued it, but it has served its requests or a newer page replaced it
    unknown,  // never issued for that share and timestamp
  };
  SignUse use_sign(std::size_t index, const Share& share, const Tokens& tokens,
                   std::string_view sign, std::uint64_t timestamp);

  std::uint64_t random_number();

  // Forgets counters, log, captchas and share progress; the traffic and the
  // signs issued stay, the current signs with all their requests again.
  void reset();

  void request_stop();
  // Waits up to ms; true when the server is stopping.
  bool wait_for_stop(std::uint32_t ms);
  bool wait_for_stop_until(std::chrono::steady_clock::time_point deadline);

 private:
  struct ShareProgress {
    bool fetched = false;
    std::uint64_t wrong_codes = 0;
    std::uint64_t downloads = 0;
    bool captcha_pending = false;
  };
  // Only with Share::sign_expires_after; otherwise a sign is a pure function of
  // the share and the page's second.
  struct PageSign {
    std::uint64_t generation = 0;     // signs issued so far
    std::string current;              // "SIGN@TIMESTAMP" of the last page; "" before one
    std::uint64_t uses = 0;           // download-link requests made with it
    std::deque<std::string> earlier;  // the ones it replaced, oldest first, bounded
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
  std::vector<PageSign> signs_;
  std::vector<std::uint64_t> downloads_in_flight_;
  const std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
  std::mt19937_64 random_;
};

}  // namespace sharelink::sim
