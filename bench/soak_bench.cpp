// Soak run of the window's job runner: one process starts hundreds of jobs in a
// row through JobLauncher, as a user pressing 解析 all day would, against the
// in-process simulator, and watches that the process does not grow: resident
// memory, open descriptors and threads after every job.
//
//   sharelink-soak [JOBS]     (default 300)
//
// Prints a Markdown table; exit 0 when every target is met and every job ended
// the way its share must end, 1 otherwise.

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/desktop/job_launcher.h"
#include "app/job_view.h"
#include "sim/fixture.h"
#include "sim/server.h"

namespace {

using sharelink::AppState;
using sharelink::JobLauncher;
using sharelink::JobView;
namespace sim = sharelink::sim;

constexpr int kDefaultJobs = 300;
constexpr int kWarmJobs = 20;  // the figures after this job are the baseline
constexpr double kRssSpreadMib = 4.0;
constexpr auto kJobLimit = std::chrono::seconds(60);
constexpr int kInvalidCode = -997;  // the service's "link no longer valid"

struct Sample {
  long rss_kib = 0;
  long heap_kib = 0;  // what malloc has handed out and not had back
  int fds = 0;
  int threads = 0;
};

long rss_kib() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  if (!(statm >> size >> resident)) return -1;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Entries of a /proc folder, "." and ".." left out.
int count_entries(const char* path) {
  DIR* dir = opendir(path);
  if (!dir) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

Sample sample() {
  // The descriptor opendir holds while it reads /proc/self/fd is counted too;
  // it is there in every sample alike.
  const long heap = static_cast<long>(mallinfo2().uordblks / 1024);
  return {rss_kib(), heap, count_entries("/proc/self/fd"), count_entries("/proc/self/task")};
}

// The simulator shares the process: its serving threads close their end of a
// connection a moment after the client has dropped it, and its thread pool
// starts after the server. A sample is taken once descriptors and threads
// have held still for a while; a leak holds still as well, so it still shows.
Sample settled_sample() {
  constexpr auto kPoll = std::chrono::milliseconds(2);
  constexpr int kStillPolls = 10;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  Sample last = sample();
  int still = 0;
  while (still < kStillPolls && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPoll);
    const Sample now = sample();
    still = now.fds == last.fds && now.threads == last.threads ? still + 1 : 0;
    last = now;
  }
  return last;
}

enum class Kind {
  public_share,
  protected_share,
  captcha_answered,
  captcha_given_up,
  invalid_link,
  closed_connection
};
constexpr std::array<Kind, 6> kKinds = {Kind::public_share,     Kind::protected_share,
                                        Kind::captcha_answered, Kind::captcha_given_up,
                                        Kind::invalid_link,     Kind::closed_connection};

const char* kind_name(Kind kind) {
  switch (kind) {
    case Kind::public_share:
      return "public";
    case Kind::protected_share:
      return "protected (code answered)";
    case Kind::captcha_answered:
      return "download captcha answered";
    case Kind::captcha_given_up:
      return "download captcha given up";
    case Kind::invalid_link:
      return "invalid link";
    case Kind::closed_connection:
      return "connection closed on the share page";
  }
  return "?";
}

// Plays the user on the job's thread: answers the extraction-code prompt with
// the share's code and the captcha prompt with the simulator's answer, or
// closes it. Keeps nothing of the log but its size, so the bench's own memory
// stays flat.
class SoakView : public JobView {
 public:
  SoakView(AppState& state, const sim::Simulator& simulator) : state_(state), sim_(simulator) {}

  // Main thread, between jobs only (wait_idle has joined the last job thread,
  // and starting the next one publishes these to it).
  void set_job(std::string link, std::string code, bool answer_captchas) {
    link_ = std::move(link);
    code_ = std::move(code);
    answer_captchas_ = answer_captchas;
    prompts_closed_ = 0;
    captcha_failures_ = 0;
  }
  int prompts_closed() const { return prompts_closed_; }
  int captcha_failures() const { return captcha_failures_; }
  unsigned long long log_bytes() const { return log_bytes_; }

  std::string read_url() override { return link_; }
  void set_input_enabled(bool) override {}
  void append_log(const std::string& text) override { log_bytes_ += text.size(); }
  void show_extraction_code_prompt() override {
    if (code_.empty()) {
      ++prompts_closed_;
      return;
    }
    state_.extraction_code = code_;
  }
  void show_captcha_prompt() override {
    sharelink::Bytes image;
    if (state_.share_client.fetch_captcha(image, state_.job_status) != 0 || image.empty()) {
      ++captcha_failures_;
    }
    if (!answer_captchas_) {
      ++prompts_closed_;
      return;
    }
    state_.captcha_answer = sim_.captcha_answer(state_.share_client.vcode_str()).value_or("");
  }

 private:
  AppState& state_;
  const sim::Simulator& sim_;
  std::string link_;
  std::string code_;
  bool answer_captchas_ = false;
  int prompts_closed_ = 0;
  int captcha_failures_ = 0;
  std::atomic<unsigned long long> log_bytes_{0};
};

// Whether the job ended the way its share must end.
bool ended_as_expected(Kind kind, int status, const SoakView& view) {
  if (view.captcha_failures() != 0) return false;
  switch (kind) {
    case Kind::public_share:
    case Kind::protected_share:
    case Kind::captcha_answered:
      return status == 0 && view.prompts_closed() == 0;
    case Kind::captcha_given_up:
      return status != 0 && view.prompts_closed() == 1;
    case Kind::invalid_link:
      return status == kInvalidCode;
    case Kind::closed_connection:
      return status != 0 && view.prompts_closed() == 0;
  }
  return false;
}

double mib(long kib) {
  return kib / 1024.0;
}

const char* verdict(bool met) {
  return met ? "met" : "**not met**";
}

}  // namespace

int main(int argc, char** argv) {
  int jobs = kDefaultJobs;
  if (argc > 2 || (argc == 2 && (jobs = std::atoi(argv[1])) < 1)) {
    std::fprintf(stderr, "usage: sharelink-soak [JOBS]   (JOBS >= 1, default %d)\n", kDefaultJobs);
    return 64;
  }
  const int warm = std::min(kWarmJobs, jobs);

  sim::Fixture fixture;
  std::string error;
  if (!sim::load_fixture_file(SHARELINK_SOAK_FIXTURE, fixture, error)) {
    std::fprintf(stderr, "sharelink-soak: %s\n", error.c_str());
    return 1;
  }
  fixture.quiet = true;
  const sim::Share* locked = fixture.find_surl("1LockDemoK3vP");
  const std::string code = locked && locked->code ? *locked->code : "";
  sim::Simulator simulator(fixture);
  if (!simulator.start("127.0.0.1", 0, error)) {
    std::fprintf(stderr, "sharelink-soak: the simulator did not start: %s\n", error.c_str());
    return 1;
  }
  const sim::Knobs plain = simulator.knobs();
  sim::Knobs closing = plain;
  closing.faults.push_back({sim::Endpoint::page, sim::FaultKind::close, 0, 0});

  // Like the window: one state, one view and one launcher for the whole run.
  AppState state;
  SoakView view(state, simulator);
  JobLauncher launcher(state, view);

  const Sample start = settled_sample();
  std::vector<Sample> after(jobs + 1);
  std::array<int, kKinds.size()> ran{}, unexpected{};
  const auto began = std::chrono::steady_clock::now();
  for (int job = 1; job <= jobs; ++job) {
    const std::size_t which = (job - 1) % kKinds.size();
    const Kind kind = kKinds[which];
    // Counters, captchas and the request log start afresh for every job, so
    // each job of a kind asks the same of the client and the simulator's log
    // (which it keeps up to 200,000 requests) is not counted as the client's.
    simulator.reset();
    simulator.set_knobs(kind == Kind::closed_connection ? closing : plain);
    const char* surl = kind == Kind::public_share        ? "1PubDemoXq7Ra"
                       : kind == Kind::protected_share   ? "1LockDemoK3vP"
                       : kind == Kind::invalid_link      ? "1GoneSoakLink"
                       : kind == Kind::closed_connection ? "1PubDemoXq7Ra"
                                                         : "1CapDemoW9zT";
    view.set_job(simulator.share_url(surl), code, kind == Kind::captcha_answered);
    if (!launcher.start()) {
      std::fprintf(stderr, "sharelink-soak: job %d did not start\n", job);
      return 1;
    }
    if (!launcher.wait_idle(kJobLimit)) {
      // The job thread still runs and refers to the objects here: leave at once.
      std::fprintf(stderr, "sharelink-soak: job %d (%s) did not end within %lld s\n", job,
                   kind_name(kind), static_cast<long long>(kJobLimit.count()));
      std::_Exit(1);
    }
    ++ran[which];
    if (!ended_as_expected(kind, state.job_status, view)) {
      ++unexpected[which];
      std::fprintf(stderr,
                   "sharelink-soak: job %d (%s) ended with status %d, %d prompt(s) closed\n", job,
                   kind_name(kind), state.job_status.load(), view.prompts_closed());
    }
    after[job] = settled_sample();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  simulator.stop();

  long low = after[warm].rss_kib, high = low;
  long heap_low = after[warm].heap_kib, heap_high = heap_low;
  int most_fds = 0, most_threads = 0;
  for (int job = warm; job <= jobs; ++job) {
    low = std::min(low, after[job].rss_kib);
    high = std::max(high, after[job].rss_kib);
    heap_low = std::min(heap_low, after[job].heap_kib);
    heap_high = std::max(heap_high, after[job].heap_kib);
    most_fds = std::max(most_fds, after[job].fds);
    most_threads = std::max(most_threads, after[job].threads);
  }
  const Sample& warmed = after[warm];
  const Sample& end = after[jobs];
  const double spread = mib(high - low);
  const bool rss_ok = spread <= kRssSpreadMib;
  // No growth: once warm never above the start or the warm figure, and at the
  // end no more than at the start.
  const bool fds_ok = most_fds <= std::max(start.fds, warmed.fds) && end.fds <= start.fds;
  const bool threads_ok =
      most_threads <= std::max(start.threads, warmed.threads) && end.threads <= start.threads;
  int unexpected_total = 0;
  for (int count : unexpected)
    unexpected_total += count;

  std::printf("| | start | after job %d | after job %d | most over jobs %d..%d | target | |\n",
              warm, jobs, warm, jobs);
  std::printf("|---|---:|---:|---:|---:|---|---|\n");
  std::printf(u8"| RSS (MiB) | %.1f | %.1f | %.1f | %.1f (spread %.2f) | spread ≤ %g MiB | %s |\n",
              mib(start.rss_kib), mib(warmed.rss_kib), mib(end.rss_kib), mib(high), spread,
              kRssSpreadMib, verdict(rss_ok));
  std::printf("| heap in use (MiB) | %.1f | %.1f | %.1f | %.1f (spread %.2f) | | |\n",
              mib(start.heap_kib), mib(warmed.heap_kib), mib(end.heap_kib), mib(heap_high),
              mib(heap_high - heap_low));
  std::printf("| open descriptors | %d | %d | %d | %d | no growth | %s |\n", start.fds, warmed.fds,
              end.fds, most_fds, verdict(fds_ok));
  std::printf("| threads | %d | %d | %d | %d | no growth | %s |\n", start.threads, warmed.threads,
              end.threads, most_threads, verdict(threads_ok));
  std::printf("\n| jobs of the mix | ran | ended otherwise than expected |\n|---|---:|---:|\n");
  for (std::size_t i = 0; i < kKinds.size(); ++i)
    std::printf("| %s | %d | %d |\n", kind_name(kKinds[i]), ran[i], unexpected[i]);
  std::printf("\n%d jobs in %.1f s (%.0f ms a job), %llu bytes of log\n", jobs, seconds,
              1000.0 * seconds / jobs, view.log_bytes());
  return rss_ok && fds_ok && threads_ok && unexpected_total == 0 ? 0 : 1;
}
