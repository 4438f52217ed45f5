// One tick of the spectrum display as the plug-in's timer runs it: the FFT
// of 1024 stereo frames, a frame of 60 bars drawn into the 512 x 200 bitmap,
// and the bitmap copied into the form (111 x 240, the default size; area
// 128 high), on each display:
//   model        windows in memory (the peer)
//   x11 shm      an X server, pixels through MIT-SHM
//   x11 put      an X server, pixels through PutImage
// Each runs in a process of its own (the display is chosen once per
// process), on an Xvfb started here unless DISPLAY is set. Prints the
// median (over rounds) of each run's median and 90th percentile per-tick
// time, and each median's ratio to the model's. Run: bench-ui-tick [ticks]
// (per run, default 2000). Also counts the allocations the ticks make (malloc,
// calloc and realloc calls on the ticking thread), which should be none.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <tovarin/ui.h>

#include "audio/dsp/fft.hpp"
#include "process_stats.hpp"
#include "ui/ui.hpp"
#include "visual/frames.hpp"
#include "xvfb.hpp"

// Allocations on the calling thread, counted by taking glibc's allocator's
// place in the process (every library's calls come here).
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
}
static thread_local long t_allocations __attribute__((tls_model("initial-exec"))) = 0;
extern "C" void* malloc(size_t n) {
  ++t_allocations;
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t size) {
  ++t_allocations;
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t n) {
  ++t_allocations;
  return __libc_realloc(p, n);
}

namespace {

struct Result {
  double median_us = 0, p90_us = 0;
  double allocations_per_tick = 0;
  int on_display = 0;
};

// Runs in a child: `ticks` ticks, timed one by one.
Result Measure(int ticks) {
  using Clock = std::chrono::steady_clock;
  const tovui::Handle host = tovui::create_window(0, {0, 0, 320, 256});
  const tovui::Handle form = tovui::create_window(host, {0, 0, 111, 240});
  tovui::Bitmap bitmap(512, 200);
  bitmap.set_pen(tovui::rgb(40, 200, 255));
  bitmap.set_brush(tovui::rgb(12, 16, 32));
  // A chord, moving a little from tick to tick as music does.
  std::vector<float> frames(2 * 1024 + 2 * 4096);
  for (size_t i = 0; i < frames.size() / 2; ++i) {
    const double t = double(i) / 44100;
    frames[2 * i] = frames[2 * i + 1] = float(0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 330 * t) +
                                              0.1 * std::sin(2 * M_PI * 1320 * t));
  }
  tovarin::audio::dsp::Fft1024 fft;
  tovarin::visual::Spectrum bins{};
  const tovui::Rect area{0, 0, 128 * 10, 128};
  std::vector<double> us(static_cast<size_t>(ticks));
  long allocations = 0;
  for (int i = 0; i < ticks; ++i) {
    const long allocated = t_allocations;
    const auto start = Clock::now();
    fft.magnitudes(&frames[size_t(2 * (i % 4096))], 2, bins.data());
    tovarin::visual::DrawBarsFrame(bitmap, bins, 128, 60, 5);
    tovui::blit(form, 0, 0, bitmap.width(), bitmap.height(), bitmap, 0, 0, &area);
    us[size_t(i)] = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (i > 0) allocations += t_allocations - allocated;  // the first tick sets up the window's buffers
    if (i % 100 == 0) tovui::pump(0);                     // Expose and the like, as a host's loop would
  }
  std::sort(us.begin(), us.end());
  Result r{us[us.size() / 2], us[us.size() * 9 / 10], double(allocations) / std::max(1, ticks - 1), 0};
  return r;
}

bool RunChild(const char* backend, bool shm, int ticks, Result& out) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    setenv("TOVUI_BACKEND", backend, 1);
    if (!shm) setenv("TOVUI_NO_SHM", "1", 1);
    Result r = Measure(ticks);
    r.on_display = tovui_on_display();
    if (r.on_display != (std::string(backend) == "x11")) _exit(1);  // not what was asked for
    ssize_t n = write(fds[1], &r, sizeof r);
    _exit(n == sizeof r ? 0 : 1);
  }
  close(fds[1]);
  const bool ok = read(fds[0], &out, sizeof out) == sizeof out;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int ticks = argc > 1 ? std::max(100, std::atoi(argv[1])) : 2000;
  constexpr int kRounds = 5;  // the three interleaved, so that load hits them alike
  Xvfb server;
  std::string why;
  if (!std::getenv("DISPLAY") && !server.Start(why)) {
    std::fprintf(stderr, "bench-ui-tick: %s\n", why.c_str());
    return 1;
  }
  struct Run {
    const char* name;
    const char* backend;
    bool shm;
    std::vector<double> medians, p90s, allocations;
  } runs[] = {{"model", "model", true, {}, {}, {}},
              {"x11 shm", "x11", true, {}, {}, {}},
              {"x11 put", "x11", false, {}, {}, {}}};
  for (int round = 0; round < kRounds; ++round)
    for (Run& run : runs) {
      Result r;
      if (!RunChild(run.backend, run.shm, ticks, r)) {
        std::fprintf(stderr, "bench-ui-tick: a %s run failed\n", run.name);
        return 1;
      }
      run.medians.push_back(r.median_us);
      run.p90s.push_back(r.p90_us);
      run.allocations.push_back(r.allocations_per_tick);
    }
  std::printf("spectrum tick, %d rounds of %d ticks, form 111 x 240 (area 128 high, 60 bars)\n", kRounds, ticks);
  std::printf("%-10s %10s %10s %8s %12s\n", "display", "median us", "p90 us", "ratio", "allocs/tick");
  const double peer = bench::median(runs[0].medians);
  for (Run& run : runs)
    std::printf("%-10s %10.1f %10.1f %8.2f %12.2f\n", run.name, bench::median(run.medians), bench::median(run.p90s),
                bench::median(run.medians) / peer, *std::max_element(run.allocations.begin(), run.allocations.end()));
  return 0;
}
