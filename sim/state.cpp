#include "sim/state.h"

#include <chrono>
#include <cstdio>

#include "sim/captcha_image.h"

namespace sharelink::sim {
namespace {

// Bounds that keep a long benchmark run from growing the simulator without end.
constexpr std::size_t kMostLogEntries = 200000;
constexpr std::size_t kMostCaptchas = 10000;

bool same_letters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

}  // namespace

SimState::SimState(const Fixture& fixture)
    : knobs_(fixture.knobs),
      shares_(fixture.shares.size()),
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

void SimState::log(LogEntry entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  entry.seq = ++log_seq_;
  log_.push_back(std::move(entry));
  if (log_.size() > kMostLogEntries) log_.pop_front();
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

}  // namespace sharelink::sim
