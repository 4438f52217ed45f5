// The radio tests' misbehaving HTTP server (tests/radio/fault_server.py) on
// loopback, serving one MP3 at every path; killed with this object.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tovarin::test {

struct FaultServer {
  pid_t pid = -1;
  int port = 0;  // 0: it did not start
  FaultServer(const std::string& script, const std::string& mp3) {
    int out[2];
    if (pipe(out) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      execl("/usr/bin/python3", "python3", script.c_str(), mp3.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    char text[16] = {};
    if (pid > 0 && read(out[0], text, sizeof text - 1) > 0) port = std::atoi(text);
    close(out[0]);
  }
  ~FaultServer() {
    if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
  }
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
};

}  // namespace tovarin::test
