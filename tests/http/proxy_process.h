#pragma once

// A tinyproxy process for the tests, listening on a free loopback port with a
// generated configuration, optionally demanding Basic credentials.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "test_server.h"

namespace sharelink::test {

class ProxyProcess {
 public:
  explicit ProxyProcess(const std::string& user = "", const std::string& password = "") {
    char pattern[] = "/tmp/sharelink-proxy-XXXXXX";
    directory_ = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    // The free port can be taken between probing and binding: try a few.
    for (int attempt = 0; attempt < 3 && pid_ < 0; ++attempt)
      start(user, password);
  }
  ~ProxyProcess() {
    stop();
    unlink((directory_ + "/proxy.conf").c_str());
    unlink((directory_ + "/proxy.log").c_str());
    rmdir(directory_.c_str());
  }
  bool running() const { return pid_ > 0; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string log() const {
    std::ifstream file(directory_ + "/proxy.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

 private:
  void start(const std::string& user, const std::string& password) {
    port_ = unused_port();
    std::string config = directory_ + "/proxy.conf";
    std::ofstream(config) << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 10\n"
                          << "MaxClients 20\nAllow 127.0.0.1\nLogLevel Connect\n"
                          << "LogFile \"" << directory_ << "/proxy.log\"\n"
                          << "DisableViaHeader Yes\n"
                          << (user.empty() ? "" : "BasicAuth " + user + " " + password + "\n");
    pid_t pid = fork();
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execlp("tinyproxy", "tinyproxy", "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid < 0) return;
    bool exited = false;
    wait_for([&] {
      exited = exited || waitpid(pid, nullptr, WNOHANG) == pid;
      return exited || accepts_connections();
    });
    if (exited) return;
    if (!accepts_connections()) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      return;
    }
    pid_ = pid;
  }
  bool accepts_connections() const {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  std::string directory_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace sharelink::test
