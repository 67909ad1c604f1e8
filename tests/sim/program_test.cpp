// The sharelink-sim program: port on the first line, clean stop on SIGTERM.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "sim_test_support.h"

extern char** environ;

namespace sharelink::sim::testing {
namespace {

struct Program {
  pid_t pid = -1;
  int out = -1;
  int err = -1;

  explicit Program(std::vector<std::string> args) {
    args.insert(args.begin(), SHARELINK_SIM_EXE);
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pipe_ends[2];
    int err_ends[2];
    if (pipe(pipe_ends) != 0) return;
    if (pipe(err_ends) != 0) {
      close(pipe_ends[0]);
      close(pipe_ends[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    posix_spawn_file_actions_adddup2(&actions, err_ends[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, err_ends[0]);
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    close(err_ends[1]);
    out = pipe_ends[0];
    err = err_ends[0];
  }
  ~Program() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
    if (err >= 0) close(err);
  }

  std::string read_line() {
    std::string line;
    char c = 0;
    while (read(out, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }

  // Everything written on stderr, once the program has ended.
  std::string error_text() {
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(err, buffer, sizeof buffer)) > 0)
      text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }

  // The exit status, or -1 when the program is still running after 10 s.
  int wait_exit() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::yield();
    }
    return -1;
  }
};

TEST(Program, ServesUntilSigterm) {
  Program program({"--port", "0", "--seed", "3", "--connect-latency", "20"});
  ASSERT_GT(program.pid, 0);
  const std::string port = program.read_line();
  ASSERT_FALSE(port.empty());
  EXPECT_EQ(port.find_first_not_of("0123456789"), std::string::npos) << port;
  const std::string origin = "http://127.0.0.1:" + port;
  EXPECT_EQ(program.read_line(), origin + "/s/1PubDemoXq7Ra");
  EXPECT_EQ(program.read_line(), origin + "/s/1LockDemoK3vP code 8k2p");
  EXPECT_TRUE(data_object(fetch(origin + "/s/1PubDemoXq7Ra").body).is_object());
  EXPECT_EQ(fetch(origin + "/__sim/stats").body, R"({"connections":1,"requests":1})");
  kill(program.pid, SIGTERM);
  EXPECT_EQ(program.wait_exit(), 0);
  EXPECT_EQ(program.error_text(), "connections: 1, requests: 1, content: 0 connections, 0 bytes\n");
}

TEST(Program, GeneratedShareAndFaultFromTheCommandLine) {
  Program program({"--generate", "1Gen:40,1,2", "--fault", "page:http500@2", "--quiet"});
  const std::string origin = "http://127.0.0.1:" + program.read_line();
  EXPECT_EQ(program.read_line(), origin + "/s/1Gen");
  Visitor visitor(origin, "1Gen");
  visitor.page();
  ASSERT_TRUE(visitor.data.is_object());
  EXPECT_EQ(visitor.data["file_list"]["list"].size(), 2u + 14u);  // two folders, 40 files over 3
  EXPECT_EQ(fetch(origin + "/s/1Gen").status, 500);
  kill(program.pid, SIGINT);
  EXPECT_EQ(program.wait_exit(), 0);
  EXPECT_EQ(program.error_text(), "");  // --quiet: no counts either
}

TEST(Program, ShareSwitchesFromTheCommandLine) {
  Program program({SHARELINK_SIM_FIXTURE_DIR "/demo.json", "--generate", "1Gen:3,0,0",
                   "--sign-expires-after", "1", "--quiet"});
  const std::string origin = "http://127.0.0.1:" + program.read_line();
  for (const char* surl : {"1PubDemoXq7Ra", "1Gen"}) {  // fixture and generated shares alike
    Visitor visitor(origin, surl);
    visitor.page();
    const nlohmann::json file = visitor.data["file_list"]["list"][0];
    EXPECT_EQ(visitor.download(file).errno_value(), 0) << surl;
    EXPECT_EQ(visitor.download(file).errno_value(), 112) << surl;
  }
  kill(program.pid, SIGTERM);
  EXPECT_EQ(program.wait_exit(), 0);
}

TEST(Program, ContentHostAndItsKnobsFromTheCommandLine) {
  Program program({"--generate", "1Gen:1,0,0", "--short-by", "1K", "--ignore-range", "--rate",
                   "64M", "--quiet"});
  const std::string origin = "http://127.0.0.1:" + program.read_line();
  EXPECT_EQ(program.read_line(), origin + "/s/1Gen");
  const std::string content = program.read_line();
  ASSERT_EQ(content.rfind("content: http://127.0.0.1:", 0), 0u) << content;
  Visitor visitor(origin, "1Gen");
  visitor.page();
  const nlohmann::json file = visitor.data["file_list"]["list"][0];
  Call call;
  call.method = "HEAD";
  call.follow = true;
  call.headers = {"Range: bytes=0-9"};
  const Exchange head = fetch(visitor.download(file).json()["list"][0]["dlink"], call);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.header("Content-Length"),
            std::to_string(file["size"].get<std::uint64_t>() - 1024));
  kill(program.pid, SIGTERM);
  EXPECT_EQ(program.wait_exit(), 0);
  EXPECT_EQ(Program({"--rate", "2X"}).wait_exit(), 2);
}

TEST(Program, TlsServesHttpsWithTheCaItWrote) {
  const std::string folder = ::testing::TempDir() + "sim-program-tls-" + std::to_string(getpid());
  Program program({"--tls", "--tls-dir", folder, "--seed", "3"});
  const std::string origin = "https://127.0.0.1:" + program.read_line();
  EXPECT_EQ(program.read_line(), origin + "/s/1PubDemoXq7Ra");
  std::error_code error;
  const std::string absolute = std::filesystem::canonical(folder, error).string();
  ASSERT_FALSE(error) << error.message();
  Call by_file;
  by_file.ca_file = absolute + "/ca.pem";
  Call by_folder;
  by_folder.ca_folder = absolute;
  for (const Call& call : {by_file, by_folder})
    EXPECT_EQ(fetch(origin + "/s/1PubDemoXq7Ra", call).status, 200);
  // Refused by a client without the CA: no request, no connection counted.
  EXPECT_EQ(fetch(origin + "/s/1PubDemoXq7Ra").code, CURLE_PEER_FAILED_VERIFICATION);
  kill(program.pid, SIGTERM);
  EXPECT_EQ(program.wait_exit(), 0);
  EXPECT_EQ(program.error_text(), "sharelink-sim: test CA certificate in " + by_file.ca_file +
                                      "\nconnections: 2, requests: 2, content: 0 connections, "
                                      "0 bytes\n");
  std::filesystem::remove_all(absolute, error);
}

TEST(Program, HangBeyondAnHourHoldsAnHour) {
  // 2^32 ms, once cut to 32 bits, held nothing at all.
  Program program({"--hang-ms", "4294967296", "--fault", "page:hang", "--quiet"});
  const std::string origin = "http://127.0.0.1:" + program.read_line();
  Call impatient;
  impatient.timeout_ms = 300;
  EXPECT_EQ(fetch(origin + "/s/1PubDemoXq7Ra", impatient).code, CURLE_OPERATION_TIMEDOUT);
  kill(program.pid, SIGTERM);
  EXPECT_EQ(program.wait_exit(), 0);
}

TEST(Program, HelpAndBadArguments) {
  Program help({"--help"});
  std::string text, line;
  while (!(line = help.read_line()).empty() || text.find("Test hooks") == std::string::npos) {
    text += line + "\n";
    if (text.size() > 20000) break;
  }
  EXPECT_EQ(help.wait_exit(), 0);
  for (const char* piece : {"--fault ENDPOINT:KIND",
                            "--generate",
                            "corrupt_captcha",
                            "\"shares\"",
                            "--connect-latency MS",
                            "\"connect_latency_ms\"",
                            "/__sim/stats",
                            "--tls-dir DIR",
                            "SSL_CERT_DIR=DIR",
                            "--sign-expires-after N",
                            "\"sign_expires_after\"",
                            "--max-download-in-flight C",
                            "\"max_download_in_flight\"",
                            "start_us",
                            "--rate BYTES",
                            "--connections-per-file C",
                            "--link-lifetime S",
                            "--drop-after BYTES",
                            "--ignore-range",
                            "--short-by BYTES",
                            "\"link_lifetime_seconds\""}) {
    EXPECT_NE(text.find(piece), std::string::npos) << piece;
  }
  EXPECT_EQ(Program({"--bogus"}).wait_exit(), 2);
  EXPECT_EQ(Program({"--fault", "page:self_loop"}).wait_exit(), 2);
  EXPECT_EQ(Program({"/nonexistent/fixture.json"}).wait_exit(), 2);
  for (const char* latency : {"3600001", "-1", "5ms", ""}) {
    EXPECT_EQ(Program({"--connect-latency", latency}).wait_exit(), 2) << latency;
  }
  EXPECT_EQ(Program({"--connect-latency"}).wait_exit(), 2);
  EXPECT_EQ(Program({"--max-download-in-flight", "x"}).wait_exit(), 2);
  EXPECT_EQ(Program({"--tls-dir", ::testing::TempDir()}).wait_exit(), 2);  // without --tls
}

}  // namespace
}  // namespace sharelink::sim::testing
