#pragma once

// Runs one hostile-server case: sharelink-cli as a child process (stdin closed,
// so every prompt is given up) against a FakeService, ended by a generous
// deadline, its peak RSS taken from wait4. Then the outcome (exit status, the
// last status line, the links kept) is matched against what the case allows,
// and the log is held to what every run must give, whatever the server did: a
// finished log of CR LF lines without control characters, and only http(s)
// links handed on.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "faults/fake_service.h"

extern char** environ;

namespace sharelink::faults {

using Clock = std::chrono::steady_clock;

struct CliRun {
  int status = -1;  // exit status, 128 + signal, or -1: killed at the deadline or the RSS ceiling
  std::string out;  // stdout, its first kOutputKept bytes
  std::string err;
  std::uint64_t out_bytes = 0;  // all of stdout
  double seconds = 0;
  long max_rss_kib = 0;
};

// A report of millions of lines must not take the test's memory with it.
constexpr std::size_t kOutputKept = std::size_t{32} << 20;

inline void keep_output(int& fd, std::string& text, std::uint64_t& total) {
  char buffer[65536];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n <= 0) {
    close(fd);
    fd = -1;
    return;
  }
  total += static_cast<std::uint64_t>(n);
  if (text.size() < kOutputKept) {
    text.append(buffer, std::min(static_cast<std::size_t>(n), kOutputKept - text.size()));
  }
}

// A child past this is stopped like one past its deadline: the machine is
// shared, and no case comes near it when the client bounds its memory.
constexpr std::uint64_t kRssCeiling = std::uint64_t{2} << 30;

inline std::uint64_t resident_bytes(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  std::uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// How much longer a run may take in a sanitizer build: the conversions of a
// page of tens of megabytes are checked byte by byte there.
#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 10;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 3;
#else
constexpr int kSlowdown = 1;
#endif

// address_limit > 0: the child's address space (RLIMIT_AS) in bytes, set by a
// shell before it becomes the program, so that the limit holds from its start.
inline CliRun run_cli(std::vector<std::string> args, std::chrono::seconds deadline,
                      std::uint64_t address_limit = 0) {
  CliRun run;
  args.insert(args.begin(), SHARELINK_CLI_EXE);
  if (address_limit > 0) {
    args.insert(args.begin(),
                {"/bin/sh", "-c",
                 "ulimit -v " + std::to_string(address_limit >> 10) + " && exec \"$0\" \"$@\""});
  }
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  const auto started = Clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  for (int fd : {in[0], in[1], out[1], err[1]})
    close(fd);
  int out_fd = out[0];
  int err_fd = err[0];
  if (pid <= 0) {
    close(out_fd);
    close(err_fd);
    return run;
  }

  const auto end = started + deadline;
  bool late = false;
  std::uint64_t err_bytes = 0;
  while (out_fd >= 0 || err_fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0 || resident_bytes(pid) > kRssCeiling) {
      late = true;
      break;
    }
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    const long wait_ms = std::min<long>(left.count(), 100);
    if (poll(fds, 2, static_cast<int>(wait_ms)) <= 0) continue;
    if (fds[0].revents != 0) keep_output(out_fd, run.out, run.out_bytes);
    if (fds[1].revents != 0) keep_output(err_fd, run.err, err_bytes);
  }
  if (late) kill(pid, SIGKILL);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) == pid && !late) {
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  run.max_rss_kib = usage.ru_maxrss;
  for (int fd : {out_fd, err_fd}) {
    if (fd >= 0) close(fd);
  }
  return run;
}

// --- reading the log -------------------------------------------------------

const std::string kLogEnd = "\r\n" + std::string(88, '-') + "\r\n\r\n";
const std::string kSuccess = u8"成功";

// The log, up to and with the separator that ends it; "" when it never ended.
inline std::string log_of(const CliRun& run) {
  const std::size_t end = run.out.rfind(kLogEnd);
  return end == std::string::npos ? std::string() : run.out.substr(0, end + kLogEnd.size());
}

// The lines --links printed after the log.
inline std::vector<std::string> listed_links(const CliRun& run) {
  std::vector<std::string> links;
  const std::size_t end = run.out.rfind(kLogEnd);
  if (end == std::string::npos) return links;
  std::istringstream rest(run.out.substr(end + kLogEnd.size()));
  for (std::string line; std::getline(rest, line);)
    links.push_back(line);
  return links;
}

// The texts of the log lines, each without its "[time] " stamp.
inline std::vector<std::string> stamped_lines(const std::string& log) {
  std::vector<std::string> texts;
  for (std::size_t at = 0; at < log.size();) {
    std::size_t end = log.find("\r\n", at);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(at, end - at);
    if (line.size() > 22 && line[0] == '[' && line.compare(20, 2, "] ") == 0) {
      texts.push_back(line.substr(22));
    }
    at = end + 2;
  }
  return texts;
}

inline std::string last_status(const std::string& log) {
  const std::string label = u8"解析状态: ";
  std::string status;
  for (const std::string& text : stamped_lines(log)) {
    if (text.compare(0, label.size(), label) == 0) status = text.substr(label.size());
  }
  return status;
}

// Report lines whose address is a link: "下载地址: http..." at a line's start.
inline int report_links(const std::string& log) {
  const std::string label = u8"下载地址: http";
  int count = 0;
  for (const std::string& text : stamped_lines(log))
    count += text.compare(0, label.size(), label) == 0 ? 1 : 0;
  return count;
}

// U+0000-001F but CR and LF, U+007F, U+0080-009F: nothing of service text may
// reach a terminal as a control character. Also false for bytes that are not
// UTF-8.
inline bool plain_utf8(const std::string& text, std::string& why) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b < 0x20 && b != '\r' && b != '\n') || b == 0x7f) {
      why = "control byte " + std::to_string(b) + " at " + std::to_string(i);
      return false;
    }
    if (b < 0x80) continue;
    const std::size_t length = b >= 0xf0 ? 4 : b >= 0xe0 ? 3 : b >= 0xc2 ? 2 : 0;
    if (length == 0 || i + length > text.size()) {
      why = "not UTF-8 at " + std::to_string(i);
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) {
        why = "not UTF-8 at " + std::to_string(i);
        return false;
      }
    }
    if (b == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0) {
      why = "C1 control at " + std::to_string(i);
      return false;
    }
    i += length - 1;
  }
  return true;
}

// --- cases -------------------------------------------------------------------

// One acceptable way for a run to end.
struct Outcome {
  int exit;
  const char* status;  // the last status line's text; nullptr: any failure text
  int links;           // report lines with a link (and --links lines); -1: any number
};

// The share's own server, and one on another port for redirects that leave
// the share's origin. options go before --links and the link.
struct Scene {
  FakeService service;
  FakeService elsewhere;
  std::vector<std::string> options;
  std::uint64_t address_limit = 0;  // bytes of address space for the client; 0: no limit
};

struct FaultCase {
  using Check = std::function<void(const Scene&, const CliRun&)>;
  FaultCase(std::string name, std::function<void(Scene&)> arrange, std::vector<Outcome> outcomes,
            long max_rss_mib = 0, int deadline_seconds = 20, Check check = nullptr)
      : name(std::move(name)),
        arrange(std::move(arrange)),
        outcomes(std::move(outcomes)),
        max_rss_mib(max_rss_mib),
        deadline_seconds(deadline_seconds),
        check(std::move(check)) {}

  std::string name;
  std::function<void(Scene&)> arrange;
  std::vector<Outcome> outcomes;
  long max_rss_mib;  // 0: not measured against a bound
  int deadline_seconds;
  // What else must (not) have happened, looked at while the servers still run.
  Check check;
};

// gtest shows a case by its name, not its bytes.
inline void PrintTo(const FaultCase& fault, std::ostream* out) {
  *out << fault.name;
}

inline std::string case_name(const ::testing::TestParamInfo<FaultCase>& info) {
  return info.param.name;
}

inline bool matches(const Outcome& outcome, int exit, const std::string& status, int links) {
  if (exit != outcome.exit) return false;
  if (outcome.status != nullptr ? status != outcome.status : status.empty() || status == kSuccess) {
    return false;
  }
  return outcome.links < 0 || outcome.links == links;
}

inline std::string outcome_text(int exit, const std::string& status, int links) {
  return "exit " + std::to_string(exit) + ", \"" + status + "\", " + std::to_string(links) +
         " links";
}

inline void run_fault_case(const FaultCase& fault) {
  Scene scene;
  if (fault.arrange) fault.arrange(scene);
  scene.service.start();
  scene.elsewhere.start();
  std::vector<std::string> args = scene.options;
  args.push_back("--links");
  args.push_back(scene.service.link());
  const CliRun run =
      run_cli(args, std::chrono::seconds(fault.deadline_seconds * kSlowdown), scene.address_limit);
  // A picture file the case named is the case's to remove.
  for (std::size_t i = 0; i + 1 < scene.options.size(); ++i) {
    if (scene.options[i] == "--captcha-file") std::remove(scene.options[i + 1].c_str());
  }

  const std::string log = log_of(run);
  const std::string status = last_status(run.out);
  const int links = report_links(log);
  char figures[160];
  std::snprintf(figures, sizeof figures, "%.1f s, peak RSS %ld MiB, %llu bytes of stdout",
                run.seconds, run.max_rss_kib / 1024,
                static_cast<unsigned long long>(run.out_bytes));
  const std::string now = outcome_text(run.status, status, links) + ", " + figures;
  std::cout << "[ outcome  ] " << fault.name << ": " << now << std::endl;
  if (std::getenv("SHARELINK_FAULTS_LOG") != nullptr) {
    std::cout << run.out.substr(0, 8192) << "\n[ stderr   ]\n"
              << run.err.substr(0, 4096) << std::endl;
  }

  ASSERT_NE(run.status, -1) << "stopped after " << fault.deadline_seconds * kSlowdown << " s or at "
                            << (kRssCeiling >> 20) << " MiB of RSS: " << now;
  EXPECT_TRUE(run.status >= 0 && run.status <= 2) << now << "\nstderr: " << run.err.substr(0, 2000);
  bool allowed = false;
  std::string wanted;
  for (const Outcome& outcome : fault.outcomes) {
    allowed = allowed || matches(outcome, run.status, status, links);
    wanted +=
        "\n  or " +
        outcome_text(outcome.exit, outcome.status ? outcome.status : "(a failure)", outcome.links);
  }
  EXPECT_TRUE(allowed) << "got " << now << "; allowed:" << wanted;
  // Sanitizers keep freed memory in quarantine and shadow all of it.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  if (fault.max_rss_mib > 0) {
    EXPECT_LT(run.max_rss_kib / 1024, fault.max_rss_mib) << now;
  }
#endif

  // What every run gives, whatever the server did.
  EXPECT_FALSE(log.empty()) << "the log never ended";
  std::string why;
  EXPECT_TRUE(plain_utf8(log, why)) << why;
  for (std::size_t at = log.find_first_of("\r\n"); at != std::string::npos;
       at = log.find_first_of("\r\n", at + 2)) {
    if (log.compare(at, 2, "\r\n") != 0) {
      ADD_FAILURE() << "a bare CR or LF in the log at " << at;
      break;
    }
  }
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << "ESC on stderr";
  // --list prints the tree where --links would print the links.
  const bool tree_listed =
      std::find(scene.options.begin(), scene.options.end(), "--list") != scene.options.end();
  const std::vector<std::string> listed =
      tree_listed ? std::vector<std::string>() : listed_links(run);
  EXPECT_EQ(static_cast<int>(listed.size()), links);
  for (const std::string& link : listed) {
    EXPECT_TRUE(link.rfind("http://", 0) == 0 || link.rfind("https://", 0) == 0) << link;
    EXPECT_TRUE(plain_utf8(link, why) && link.find_first_of("\r\n") == std::string::npos) << link;
  }
  if (fault.check) fault.check(scene, run);
}

}  // namespace sharelink::faults
