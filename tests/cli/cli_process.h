#pragma once

// Runs sharelink-cli as a child process with its three standard streams on
// pipes, the way another program would drive it. Every wait has a deadline, and
// a child still running at the end is killed.
//
// SHARELINK_CLI_PROGRAM, when set, is the command that runs sharelink-cli in
// place of the one of this build: words separated by spaces, such as
// "scripts/wine-run build-windows/bin/sharelink-cli.exe" for the Windows
// program under Wine.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace sharelink::testing {

class CliProcess {
 public:
  // env_overrides: "NAME=value" items that replace or join the test's environment.
  // program: sharelink-cli, or another program a test runs on its output.
  // stderr_terminal: stderr is a pseudo-terminal rather than a pipe.
  explicit CliProcess(std::vector<std::string> args, std::vector<std::string> env_overrides = {},
                      const std::string& program = SHARELINK_CLI_EXE,
                      bool stderr_terminal = false) {
    const std::vector<std::string> command =
        program == SHARELINK_CLI_EXE ? cli_command() : std::vector<std::string>{program};
    args.insert(args.begin(), command.begin(), command.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = environment(env_overrides);
    std::vector<char*> envp;
    for (std::string& item : env)
      envp.push_back(item.data());
    envp.push_back(nullptr);

    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    if (stderr_terminal) {
      // err[0] the reading end, err[1] what the child writes to, as for a pipe.
      if (openpty(&err[0], &err[1], nullptr, nullptr, nullptr) != 0) return;
      fcntl(err[0], F_SETFD, FD_CLOEXEC);
      fcntl(err[1], F_SETFD, FD_CLOEXEC);
    } else if (pipe2(err, O_CLOEXEC) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    // A child that died must not kill the test with SIGPIPE on the next answer.
    signal(SIGPIPE, SIG_IGN);
  }

  ~CliProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0) close(fd);
    }
  }

  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // What Ctrl-C on a terminal sends.
  void interrupt(int number = SIGINT) {
    if (pid_ > 0) kill(pid_, number);
  }

  // Waits until stderr shows needle after the point the last wait reached; false
  // when the child's stderr ended or the deadline passed first.
  bool wait_for_stderr(const std::string& needle) {
    const auto deadline = Clock::now() + kDeadline;
    for (;;) {
      const std::size_t at = err_text_.find(needle, err_seen_);
      if (at != std::string::npos) {
        err_seen_ = at + needle.size();
        return true;
      }
      if (err_ < 0 || !pump(deadline)) return false;
    }
  }

  void send(const std::string& text) {
    if (in_ >= 0 && ::write(in_, text.data(), text.size()) < 0) close_stdin();
  }

  void close_stdin() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  // Ends stdin, reads both outputs to their end and returns the exit status;
  // -1 when the child is still running after the deadline.
  int finish() {
    close_stdin();
    const auto deadline = Clock::now() + kDeadline;
    while (out_ >= 0 || err_ >= 0) {
      if (!pump(deadline)) return -1;
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  const std::string& out() const { return out_text_; }
  const std::string& err() const { return err_text_; }
  // stderr after the point the last wait reached.
  std::string unseen_err() const { return err_text_.substr(err_seen_); }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kDeadline{20};

  static std::vector<std::string> cli_command() {
    const char* given = std::getenv("SHARELINK_CLI_PROGRAM");
    std::vector<std::string> words;
    for (const char* at = given != nullptr ? given : ""; *at != '\0';) {
      const std::size_t length = std::strcspn(at, " ");
      if (length > 0) words.emplace_back(at, length);
      at += length + (at[length] == ' ' ? 1 : 0);
    }
    if (words.empty()) words.emplace_back(SHARELINK_CLI_EXE);
    return words;
  }

  static std::vector<std::string> environment(const std::vector<std::string>& overrides) {
    std::vector<std::string> env(overrides);
    for (char** item = environ; *item != nullptr; ++item) {
      const std::string entry = *item;
      const std::string name = entry.substr(0, entry.find('=') + 1);
      bool replaced = false;
      for (const std::string& override_item : overrides) {
        replaced = replaced || override_item.compare(0, name.size(), name) == 0;
      }
      if (!replaced) env.push_back(entry);
    }
    return env;
  }

  // Reads what is there on stdout and stderr; false at the deadline.
  bool pump(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) return false;
    drain(fds[0], out_, out_text_);
    drain(fds[1], err_, err_text_);
    return true;
  }

  static void drain(const pollfd& polled, int& fd, std::string& text) {
    if (fd < 0 || polled.revents == 0) return;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else {  // end of a pipe; EIO on a terminal whose other side is gone
      close(fd);
      fd = -1;
    }
  }

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  std::string err_text_;
  std::size_t err_seen_ = 0;
};

}  // namespace sharelink::testing
