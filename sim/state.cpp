#include "sim/state.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "sim/captcha_image.h"

namespace sharelink::sim {
namespace {

// Bounds that keep a long benchmark run from growing the simulator without end.
constexpr std::size_t kMostLogEntries = 200000;
constexpr std::size_t kMostCaptchas = 10000;
// Replaced signs remembered per share, so that one a client still holds is
// told stale rather than forged.
constexpr std::size_t kMostEarlierSigns = 1024;

bool same_letters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

}  // namespace

std::size_t max_in_flight(const std::vector<LogEntry>& log, const std::string& endpoint) {
  // (time, 0) a start, (time, 1) an end: in one microsecond starts come first.
  std::vector<std::pair<std::uint64_t, int>> events;
  for (const LogEntry& entry : log) {
    if (!endpoint.empty() && entry.endpoint != endpoint) continue;
    events.emplace_back(entry.start_us, 0);
    if (entry.end_us != 0) events.emplace_back(entry.end_us, 1);
  }
  std::sort(events.begin(), events.end());
  std::size_t under_way = 0, most = 0;
  for (const auto& event : events) {
    if (event.second == 0) {
      most = std::max(most, ++under_way);
    } else if (under_way > 0) {
      --under_way;
    }
  }
  return most;
}

SimState::SimState(const Fixture& fixture)
    : knobs_(fixture.knobs),
      shares_(fixture.shares.size()),
      signs_(fixture.shares.size()),
      downloads_in_flight_(fixture.shares.size()),
      random_(fixture.seed != 0 ? fixture.seed : std::random_device{}()) {}

Admission SimState::admit(Endpoint endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto index = static_cast<std::size_t>(endpoint);
  Admission admission;
  admission.count = ++counts_[index];
  admission.latency_ms = knobs_.latency_ms + knobs_.endpoint_latency_ms[index];
  for (const FaultRule& rule : knobs_.faults) {
    if (rule.endpoint == endpoint && rule.selects(admission.count)) {
      admission.fault = rule.kind;
      break;
    }
  }
  return admission;
}

Knobs SimState::knobs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return knobs_;
}

void SimState::set_knobs(const Knobs& knobs) {
  std::lock_guard<std::mutex> lock(mutex_);
  knobs_ = knobs;
}

void SimState::count_request(bool first_on_connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++traffic_.requests;
  if (first_on_connection) ++traffic_.connections;
}

Traffic SimState::traffic() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return traffic_;
}

std::uint64_t SimState::now_us() const {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - origin_)
                                        .count());
}

std::uint64_t SimState::log(LogEntry entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  entry.seq = ++log_seq_;
  log_.push_back(std::move(entry));
  if (log_.size() > kMostLogEntries) log_.pop_front();
  return log_seq_;
}

void SimState::finish_log(std::uint64_t seq, std::uint64_t end_us) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Sequence numbers run on without gaps (a reset leaves them), so the entry's
  // place follows from the first one's.
  if (log_.empty() || seq < log_.front().seq || seq > log_.back().seq) return;
  log_[static_cast<std::size_t>(seq - log_.front().seq)].end_us = end_us;
}

std::vector<LogEntry> SimState::log_entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {log_.begin(), log_.end()};
}

std::uint64_t SimState::next_request_id() {
  std::lock_guard<std::mutex> lock(mutex_);
  return 300000000000000000ull + ++request_id_ * 7907 + random_() % 7907;
}

std::string SimState::issue_captcha(const std::string& prod) {
  std::lock_guard<std::mutex> lock(mutex_);
  CaptchaRecord record{"", prod};
  for (int i = 0; i < 4; ++i)
    record.answer += kCaptchaAlphabet[random_() % kCaptchaAlphabet.size()];
  std::string id;
  char hex[17];
  while (id.empty() || captchas_.count(id) > 0) {
    id.clear();
    for (int i = 0; i < 3; ++i) {
      std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(random_()));
      id += hex;
    }
    id.resize(40);
  }
  captchas_.emplace(id, std::move(record));
  captcha_order_.push_back(id);
  if (captcha_order_.size() > kMostCaptchas) {
    captchas_.erase(captcha_order_.front());
    captcha_order_.pop_front();
  }
  return id;
}

std::optional<CaptchaRecord> SimState::find_captcha(const std::string& id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = captchas_.find(id);
  if (found == captchas_.end()) return std::nullopt;
  return found->second;
}

bool SimState::redeem_captcha(const std::string& id, std::string_view answer,
                              std::string_view prod) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = captchas_.find(id);
  if (found == captchas_.end()) return false;
  const bool right = found->second.prod == prod && same_letters(found->second.answer, answer);
  captchas_.erase(found);  // the order list keeps a stale id; erasing it later is harmless
  return right;
}

bool SimState::first_page_fetch(std::size_t share) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool first = !shares_[share].fetched;
  shares_[share].fetched = true;
  return first;
}

bool SimState::verify_wants_captcha(std::size_t share, const CaptchaPolicy& policy) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (policy.mode == CaptchaPolicy::Mode::always) return true;
  return policy.mode == CaptchaPolicy::Mode::after && shares_[share].wrong_codes >= policy.n;
}

void SimState::count_wrong_code(std::size_t share) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++shares_[share].wrong_codes;
}

void SimState::clear_wrong_codes(std::size_t share) {
  std::lock_guard<std::mutex> lock(mutex_);
  shares_[share].wrong_codes = 0;
}

bool SimState::admit_download(std::size_t share, const CaptchaPolicy& policy, bool answered) {
  std::lock_guard<std::mutex> lock(mutex_);
  ShareProgress& progress = shares_[share];
  const std::uint64_t n = ++progress.downloads;
  if (policy.mode == CaptchaPolicy::Mode::from && n >= policy.n) progress.captcha_pending = true;
  if (policy.mode == CaptchaPolicy::Mode::every && n % policy.n == 0) {
    progress.captcha_pending = true;
  }
  if (!progress.captcha_pending) return true;
  if (!answered) return false;
  progress.captcha_pending = false;
  return true;
}

bool SimState::enter_download(std::size_t share, std::uint64_t cap) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool over = cap > 0 && downloads_in_flight_[share] >= cap;
  ++downloads_in_flight_[share];
  return over;
}

void SimState::leave_download(std::size_t share) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (downloads_in_flight_[share] > 0) --downloads_in_flight_[share];
}

std::string SimState::issue_sign(std::size_t index, const Share& share, const Tokens& tokens,
                                 std::uint64_t timestamp) {
  if (share.sign_expires_after == 0) return tokens.sign(share, timestamp);
  std::lock_guard<std::mutex> lock(mutex_);
  PageSign& page = signs_[index];
  // A generation of its own: two pages of one second still differ.
  std::string sign = tokens.sign(share, timestamp, ++page.generation);
  if (!page.current.empty()) {
    page.earlier.push_back(std::move(page.current));
    if (page.earlier.size() > kMostEarlierSigns) page.earlier.pop_front();
  }
  page.current = sign + "@" + std::to_string(timestamp);
  page.uses = 0;
  return sign;
}

SimState::SignUse SimState::use_sign(std::size_t index, const Share& share, const Tokens& tokens,
                                     std::string_view sign, std::uint64_t timestamp) {
  if (share.sign_expires_after == 0) {
    return sign == tokens.sign(share, timestamp) ? SignUse::current : SignUse::unknown;
  }
  const std::string key = std::string(sign) + "@" + std::to_string(timestamp);
  std::lock_guard<std::mutex> lock(mutex_);
  PageSign& page = signs_[index];
  if (!page.current.empty() && key == page.current) {
    if (page.uses >= share.sign_expires_after) return SignUse::stale;
    ++page.uses;
    return SignUse::current;
  }
  const bool replaced =
      std::find(page.earlier.begin(), page.earlier.end(), key) != page.earlier.end();
  return replaced ? SignUse::stale : SignUse::unknown;
}

std::uint64_t SimState::random_number() {
  std::lock_guard<std::mutex> lock(mutex_);
  return random_();
}

void SimState::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.fill(0);
  log_.clear();
  captchas_.clear();
  captcha_order_.clear();
  for (ShareProgress& progress : shares_)
    progress = ShareProgress{};
  for (PageSign& page : signs_)
    page.uses = 0;
}

void SimState::request_stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_signal_.notify_all();
}

bool SimState::wait_for_stop(std::uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return stop_signal_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

bool SimState::wait_for_stop_until(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return stop_signal_.wait_until(lock, deadline, [this] { return stopping_; });
}

}  // namespace sharelink::sim
