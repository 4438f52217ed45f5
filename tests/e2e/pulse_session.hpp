// A private PulseAudio server for one test (scripts/pulse-session.sh), the
// child processes that talk to it, bounded waits, and the tones played
// through it. The fixture points the library's defaults at the session's
// server and stops it afterwards.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <optional>
#include <sstream>
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

struct Tone {
  double freq;
  double amplitude;  // full scale 1
};

// Interleaved stereo 16-bit samples: one tone per channel.
inline std::vector<int16_t> stereo_tone(int rate, double seconds, Tone left, Tone right) {
  const size_t frames = static_cast<size_t>(rate * seconds);
  std::vector<int16_t> s(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    for (const auto& [c, tone] : {std::pair{0, left}, std::pair{1, right}})
      s[2 * i + c] =
          static_cast<int16_t>(std::lrint(32767 * tone.amplitude * std::sin(2 * std::numbers::pi * tone.freq * t)));
  }
  return s;
}

inline bool write_raw(const std::string& path, const std::vector<int16_t>& samples) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
  return static_cast<bool>(out);
}

// What a capture callback (collect) was given: the first 60 s of 16-bit
// stereo at 44.1 kHz.
struct Captured {
  std::mutex mu;
  std::vector<int16_t> samples;  // interleaved, guarded by mu
  std::atomic<size_t> frames{0};
  std::atomic<int> calls{0};
  std::atomic<bool> odd_length{false};
};

inline BOOL collect(HRECORD, const void* buffer, DWORD length, void* user) {
  auto* c = static_cast<Captured*>(user);
  if (length % 4 != 0) c->odd_length = true;  // not whole 16-bit stereo frames
  const auto* s = static_cast<const int16_t*>(buffer);
  {
    std::lock_guard lock(c->mu);
    if (c->samples.size() < 60u * 44100 * 2) c->samples.insert(c->samples.end(), s, s + length / 2);
  }
  c->frames += length / 4;
  ++c->calls;
  return 1;
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
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      const size_t eq = line.find('=');
      if (eq != std::string::npos && line.compare(0, 6, "PULSE_") == 0)
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
