// bench-idle: what the plug-in costs while nothing plays. Loads Plugin.so
// like a host (dlopen, a window, the host waiting on tovui_event_fd), opens a
// tone, and measures each phase for a few seconds by the process's CPU time
// (getrusage) and by each thread's wake-ups (voluntary plus involuntary
// context switches from /proc/self/task/*/status):
//   loaded   library initialised, nothing opened
//   playing  the tone playing (the peer the idle phases are read against)
//   paused   the tone paused
//   stopped  the tone stopped
// Each run repeats the phases; the report gives medians over the runs.
// Options: --runs=N (5), --seconds=S (3), --settle=S (0.5: how long a phase
// runs before it is measured; an output that closes its device after a
// while idle needs more). The output is the silent one unless
// TOVARIN_AUDIO_OUTPUT says otherwise (auto: the sound server's device). TOVARIN_PLUGIN=path measures
// another build of the plug-in (an earlier one, as the peer of this one).
#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <tovarin/plugin.h>
#include <tovarin/ui.h>

#include "plugin_api.hpp"
#include "process_stats.hpp"

namespace {

using Api = bench::PluginApi;

// Dispatches the window's messages and timers for `seconds`, sleeping on the
// event descriptor in between, as a host's poll loop does.
void Pump(double seconds) {
  const int fd = tovui_event_fd();
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count()) + 1) > 0) tovui_pump(0);
  }
}

struct ThreadCount {
  std::string name;
  long switches = 0;
};

// Context switches so far of every thread of this process, by thread id.
std::map<std::string, ThreadCount> Switches() {
  std::map<std::string, ThreadCount> out;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    ThreadCount t;
    std::ifstream comm(e.path() / "comm");
    std::getline(comm, t.name);
    std::ifstream status(e.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      const auto colon = line.find(':');
      if (colon != std::string::npos && line.compare(0, colon, "voluntary_ctxt_switches") == 0)
        t.switches += std::atol(line.c_str() + colon + 1);
      else if (colon != std::string::npos && line.compare(0, colon, "nonvoluntary_ctxt_switches") == 0)
        t.switches += std::atol(line.c_str() + colon + 1);
    }
    out[e.path().filename().string()] = t;
  }
  return out;
}

struct Phase {
  double cpu_percent = 0;
  double busiest_wakes = 0;  // wake-ups per second of the busiest thread
  std::string busiest;
  std::vector<std::string> threads;  // "name: N/s" of every thread that woke
};

double g_settle = 0.5;

// Measures `seconds` of the current state after settling.
Phase Measure(double seconds) {
  Pump(g_settle);
  const auto before = Switches();
  const double cpu0 = bench::cpu_seconds();
  const auto t0 = std::chrono::steady_clock::now();
  Pump(seconds);
  const double wall = bench::seconds_since(t0);
  const double cpu = bench::cpu_seconds() - cpu0;
  const auto after = Switches();
  Phase p;
  p.cpu_percent = 100.0 * cpu / wall;
  for (auto& [tid, t] : after) {
    auto b = before.find(tid);
    const long n = t.switches - (b == before.end() ? 0 : b->second.switches);
    const double rate = n / wall;
    if (n > 0) {
      char text[96];
      std::snprintf(text, sizeof text, "%s %.1f/s", t.name.c_str(), rate);
      p.threads.push_back(text);
    }
    if (rate > p.busiest_wakes) p.busiest_wakes = rate, p.busiest = t.name;
  }
  return p;
}

double Option(int argc, char** argv, const char* name, double fallback) {
  const size_t len = std::strlen(name);
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], name, len) == 0 && argv[i][len] == '=') return std::atof(argv[i] + len + 1);
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = static_cast<int>(Option(argc, argv, "--runs", 5));
  const double seconds = Option(argc, argv, "--seconds", 3);
  g_settle = Option(argc, argv, "--settle", g_settle);
  if (runs < 1 || seconds <= 0 || g_settle < 0) {
    std::fprintf(stderr, "usage: %s [--runs=N] [--seconds=S] [--settle=S]\n", argv[0]);
    return 2;
  }
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 0);

  const char* path = std::getenv("TOVARIN_PLUGIN") ? std::getenv("TOVARIN_PLUGIN") : TOVARIN_PLUGIN_PATH;
  Api a = Api::Load(path);

  const std::string tone = bench::WriteTone("idle", 600.0);
  const uint32_t window = tovui_create_window(0, 0, 0, 320, 256);
  a.SetParentWindow(window);

  const char* names[] = {"loaded", "playing", "paused", "stopped"};
  std::vector<std::vector<Phase>> phases(4);
  for (int r = 0; r < runs; ++r) {
    a.Bass_Init();
    a.SetData(1);
    a.Bass_ChannelNum();
    phases[0].push_back(Measure(seconds));
    a.SetFile(tone.c_str());
    if (!a.Bass_Create()) {
      std::fprintf(stderr, "cannot open the tone\n");
      return 1;
    }
    a.Bass_Play();
    phases[1].push_back(Measure(seconds));
    a.Bass_Pause();
    phases[2].push_back(Measure(seconds));
    a.Bass_Play();
    Pump(0.2);
    a.Bass_Stop();
    phases[3].push_back(Measure(seconds));
    a.Bass_Free();
  }
  std::remove(tone.c_str());

  std::printf("bench-idle: %s, %d runs of %.1f s per phase after %.1f s, output %s, load average %s\n", path, runs,
              seconds, g_settle, std::getenv("TOVARIN_AUDIO_OUTPUT"), [] {
                static char load[64] = "?";
                if (FILE* f = std::fopen("/proc/loadavg", "r")) {
                  if (!std::fgets(load, sizeof load, f)) load[0] = 0;
                  std::fclose(f);
                  load[std::strcspn(load, "\n")] = 0;
                }
                return load;
              }());
  std::printf("%-8s %12s %22s  threads (last run)\n", "phase", "cpu % (med)", "busiest wakes/s (med)");
  for (int i = 0; i < 4; ++i) {
    std::vector<double> cpu, wakes;
    for (auto& p : phases[i]) cpu.push_back(p.cpu_percent), wakes.push_back(p.busiest_wakes);
    std::printf("%-8s %12.3f %16.1f %-5s ", names[i], bench::median(cpu), bench::median(wakes),
                phases[i].back().busiest.c_str());
    for (auto& t : phases[i].back().threads) std::printf(" [%s]", t.c_str());
    std::printf("\n");
  }
  return 0;
}
