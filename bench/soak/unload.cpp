// Load and unload Plugin.so again and again in one process, as a host that
// lets its user switch plug-ins might.
//
//   bench-unload [CYCLES]     (default 1000; a whole positive number)
//
// Each cycle: dlopen, lend a window, Bass_Init, open a short file into a
// slot, play it (the fade runs while the window system is pumped), Bass_Free,
// dlclose. Reported (a benchmark, not a test): resident memory, heap in use,
// threads and file descriptors after the first tenth of the cycles (at most
// 100) and at the end, their growth,
// and whether the library really left the process each time.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <tovarin/plugin.h>
#include <tovarin/ui.h>

#include "common/temp_dir.hpp"
#include "plugin_api.hpp"
#include "process_stats.hpp"

namespace {

void CloseBox(void*, uint32_t box, const char*, const char*) { tovui_close_box(box); }

using Api = bench::PluginApi;

}  // namespace

int main(int argc, char** argv) {
  long cycles = 1000;
  if (argc > 2 || argc == 2) {
    char* end = nullptr;
    cycles = argc == 2 ? std::strtol(argv[1], &end, 10) : 0;
    if (argc > 2 || end == argv[1] || *end != '\0' || cycles < 1 || cycles > 1000000) {
      std::fprintf(stderr, "usage: bench-unload [CYCLES]   (a whole positive number, default 1000)\n");
      return 2;
    }
  }
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 0);  // unless the caller chose an output
  const tovarin::test::TempDir dir("tovarin-unload");
  const std::string wav = dir.file("tone.wav");
  if (std::system(("ffmpeg -v error -nostdin -y -f lavfi -i 'sine=frequency=440:sample_rate=44100:duration=2' " + wav)
                      .c_str()) != 0)
    return 1;

  tovui_set_presenter(&CloseBox, nullptr);
  const uint32_t host = tovui_create_window(0, 0, 0, 400, 300);
  // The allocator and the loader settle in the first cycles: growth counts from a tenth of the run (at most 100).
  const long warm_cycles = std::max(1L, std::min(100L, cycles / 10));
  long rss_warm = 0, heap_warm = 0;
  int threads_warm = 0, fds_warm = 0;
  long still_loaded = 0, failed = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long c = 1; c <= cycles; ++c) {
    void* lib = dlopen(TOVARIN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      std::fprintf(stderr, "bench-unload: %s\n", dlerror());
      return 1;
    }
    const Api api(lib);
    api.SetParentWindow(host);
    api.Bass_Init();
    api.SetData(1 + static_cast<int32_t>(c % 32));
    api.Bass_ChannelNum();
    api.SetFile(wav.c_str());
    if (api.Bass_Create() != 1) ++failed;
    api.Bass_Play();
    for (int i = 0; i < 5; ++i) tovui_pump(2);
    api.Bass_Free();
    dlclose(lib);
    if (void* again = dlopen(TOVARIN_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD)) {
      ++still_loaded;
      dlclose(again);
    }
    if (getenv("UNLOAD_TRACE") && c % 100 == 0)
      std::fprintf(stderr, "cycle %ld: resident %.1f MiB, heap %.1f MiB\n", c, bench::resident_kib() / 1024.0,
                   bench::heap_kib() / 1024.0);
    if (c == warm_cycles) {
      rss_warm = bench::resident_kib();
      heap_warm = bench::heap_kib();
      threads_warm = bench::count_entries("/proc/self/task");
      fds_warm = bench::count_entries("/proc/self/fd");
    }
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long rss = bench::resident_kib(), heap = bench::heap_kib();
  const int threads = bench::count_entries("/proc/self/task"), fds = bench::count_entries("/proc/self/fd");
  std::printf("unload: %ld load-play-unload cycles of Plugin.so in %.1f s (%.1f ms each), %ld failed opens\n", cycles,
              secs, secs * 1000 / cycles, failed);
  std::printf("  resident memory:   %.1f MiB after %ld cycles, %.1f MiB at the end, growth %+.2f MiB\n",
              rss_warm / 1024.0, warm_cycles, rss / 1024.0, (rss - rss_warm) / 1024.0);
  std::printf("  heap in use:       %.1f MiB after %ld cycles, %.1f MiB at the end, growth %+.2f MiB\n",
              heap_warm / 1024.0, warm_cycles, heap / 1024.0, (heap - heap_warm) / 1024.0);
  std::printf("  threads:           %d after %ld cycles, %d at the end\n", threads_warm, warm_cycles, threads);
  std::printf("  file descriptors:  %d after %ld cycles, %d at the end\n", fds_warm, warm_cycles, fds);
  std::printf("  still mapped after dlclose: %ld of %ld cycles\n", still_loaded, cycles);
  tovui_destroy_window(host);
  return 0;
}
