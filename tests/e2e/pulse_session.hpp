// A private PulseAudio server for one test (scripts/pulse-session.sh), the
// child processes that talk to it, and bounded waits. The fixture points
// the library's defaults at the session's server and stops it afterwards.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/bass.h"

extern char** environ;

namespace pulse_session {

using Clock = std::chrono::steady_clock;
constexpr auto kWaitLimit = std::chrono::seconds(20);

// A child process with stdout and stderr sent to files; ended (TERM, then
// KILL) and reaped when it goes out of scope.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::string& out_path, const std::string& err_path) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &fa, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~Child() { end(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }

  // Waits for the child to exit by itself; its exit status, or nullopt when
  // it is still running after `limit`.
  std::optional<int> wait_exit(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (pid_ > 0) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (Clock::now() > until) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
  }

  void end() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!wait_exit(std::chrono::seconds(5))) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

inline std::string read_text(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline size_t file_size(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

// Polls `done` until it holds or the limit passes.
inline bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit = kWaitLimit) {
  const auto until = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The session: started in SetUp with one null sink "testsink" at kSinkRate
// (the default sink, its monitor the default source).
class PulseSession : public ::testing::Test {
 protected:
  static constexpr int kSinkRate = 48000;

  void SetUp() override {
    for (const char* name : {"TOVARIN_AUDIO_OUTPUT", "TOVARIN_AUDIO_INPUT", "SDL_AUDIODRIVER", "PULSE_SERVER",
                             "PULSE_CLIENTCONFIG", "PULSE_COOKIE", "PULSE_SINK", "PULSE_SOURCE"}) {
      if (const char* v = std::getenv(name)) saved_env_[name] = v;
      ::unsetenv(name);  // the library's own defaults, the session's server
    }
    char tmpl[] = "/tmp/tovarin-pulse-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    const std::string err = dir_ + ".err";
    const std::string cmd = "timeout 60 bash " TOVARIN_PULSE_SESSION " start " + dir_ + " --rate " +
                            std::to_string(kSinkRate) + " --owner " + std::to_string(::getpid()) + " 2>" + err;
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    const int status = ::pclose(p);
    const std::string why = read_text(err);
    std::remove(err.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == 77) {
      dir_.clear();  // the script removed it
      GTEST_SKIP() << "no PulseAudio on this machine: " << why;
    }
    ASSERT_EQ(code, 0) << "pulse-session.sh start failed: " << why;
    started_ = true;
    size_t pos = 0;
    while (pos < out.size()) {
      size_t nl = out.find('\n', pos);
      if (nl == std::string::npos) nl = out.size();
      const std::string line = out.substr(pos, nl - pos);
      pos = nl + 1;
      const size_t eq = line.find('=');
      if (eq == std::string::npos || line.compare(0, 6, "PULSE_") != 0) continue;
      ::setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 1);
    }
    ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr) << out;
  }

  void TearDown() override {
    BASS_RecordFree();
    BASS_Free();
    children_.clear();
    if (started_) {
      const std::string cmd = "timeout 60 bash " TOVARIN_PULSE_SESSION " stop " + dir_;
      EXPECT_EQ(std::system(cmd.c_str()), 0) << "pulse-session.sh stop failed";
    } else if (!dir_.empty()) {
      ::rmdir(dir_.c_str());
    }
    for (const auto& name : {"PULSE_SESSION_DIR", "PULSE_SERVER", "PULSE_CLIENTCONFIG", "PULSE_COOKIE"})
      ::unsetenv(name);
    for (const auto& [name, value] : saved_env_) ::setenv(name.c_str(), value.c_str(), 1);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // A child of the test, ended at the latest in TearDown.
  Child& spawn(const std::vector<std::string>& argv, const std::string& name) {
    children_.push_back(std::make_unique<Child>(argv, path(name + ".out"), path(name + ".err")));
    return *children_.back();
  }

  // The server's own recorder on `sink`'s monitor: raw 32-bit float stereo
  // at `rate` into path(name + ".out").
  Child& record_monitor(const std::string& sink, int rate, int latency_ms, const std::string& name) {
    return spawn({"parec", "-d", sink + ".monitor", "--raw", "--format=float32le", "--rate=" + std::to_string(rate),
                  "--channels=2", "--latency-msec=" + std::to_string(latency_ms)},
                 name);
  }

  std::string log_of(const std::string& name) const { return read_text(path(name + ".err")); }

  // Runs a short command (pactl) to its end, bounded; its exit status.
  int run(const std::vector<std::string>& argv, const std::string& name) {
    Child c(argv, path(name + ".out"), path(name + ".err"));
    if (!c.started()) return -1;
    return c.wait_exit(std::chrono::seconds(10)).value_or(-1);
  }

  std::string dir_;
  bool started_ = false;
  std::map<std::string, std::string> saved_env_;
  std::vector<std::unique_ptr<Child>> children_;
};

}  // namespace pulse_session
