// A child process for tests: started with arguments, its first output line
// readable, killed (process group) and reaped on destruction.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tovarin::test {

class Process {
 public:
  explicit Process(const std::vector<std::string>& argv, bool capture_stdout = true);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  bool running() const { return pid_ > 0; }
  // The first line the process prints, waiting at most timeout_ms.
  std::string read_line(int timeout_ms);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
int unused_port();
// True when something accepts connections on 127.0.0.1:port.
bool port_open(int port);

}  // namespace tovarin::test
