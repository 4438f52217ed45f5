// Benchmarks of the plug-in as a host drives it (silent output):
//   BM_Fade100:  wall time from Bass_Play to the 100th volume step handled,
//                a host pumping with tovui_pump as it waits.
//   BM_QueryGetPosition: one Bass_GetPosition plus GetFile on a playing slot.
//   BM_QuerySec2Format:  one SetFile + Bass_Sec2Format + GetFile (no library).
//   BM_ExportGetData/E:  the cheapest export (GetData), so mostly the wall
//                every export passes, its floating-point scope included;
//                BM_FloatScope/E: that scope alone. E = 0: a host in the
//                default environment; E = 1: one with invalid operation,
//                divide by zero and overflow unmasked (feenableexcept).
//   BM_StationCreate / BM_StationFirstSound: a loopback station (the radio
//                tests' fault server, path /live): Bass_Create until it
//                returns, and from Bass_Create until the slot's level is
//                above zero after Bass_Play. Needs TOVARIN_FAULT_SERVER (the
//                server script) and ffmpeg; skipped without them.
// Run: bench-plugin --benchmark_repetitions=10 (medians and spread).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <tovarin/plugin.h>
#include <tovarin/ui.h>

#include <fenv.h>

#include "common/fault_server.hpp"
#include "platform/platform.hpp"
#include "plugin_api.hpp"

namespace {

struct Api : bench::PluginApi {
  uint32_t window = 0;
};

// One loaded plug-in for the whole run, playing a long tone in slot 1.
Api& Plugin() {
  static Api api = [] {
    setenv("TOVARIN_AUDIO_OUTPUT", "null", 0);
    Api a{bench::PluginApi::Load(TOVARIN_PLUGIN_PATH)};
    a.window = tovui_create_window(0, 0, 0, 320, 256);
    a.SetParentWindow(a.window);
    a.Bass_Init();
    a.SetData(1);
    a.Bass_ChannelNum();
    const std::string tone = bench::WriteTone("plugin", 600.0);
    a.SetFile(tone.c_str());
    if (!a.Bass_Create()) {
      std::fprintf(stderr, "cannot open the tone\n");
      std::exit(1);
    }
    std::remove(tone.c_str());
    return a;
  }();
  return api;
}

void BM_Fade100(benchmark::State& state) {
  Api& a = Plugin();
  for (auto _ : state) {
    a.Bass_Play();
    // One volume request and a hundred steps.
    int handled = 0;
    while (handled < 101) handled += tovui_pump(100);
  }
}
BENCHMARK(BM_Fade100)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// The largest volume, 2^31 - 1 percent: its fade is cut to 2001 steps (the
// tests count them), about 2 s at a step a millisecond.
void BM_FadeLargestVolume(benchmark::State& state) {
  Api& a = Plugin();
  a.SetData(INT32_MAX);
  a.Bass_SetVolume();
  for (auto _ : state) {
    a.Bass_Play();
    int handled = 0, got = 0;
    while (handled < 2002 && (got = tovui_pump(100)) > 0) handled += got;
    if (handled < 2002) state.SkipWithError("the fade posted fewer steps");
  }
  a.SetData(100);
  a.Bass_SetVolume();
}
BENCHMARK(BM_FadeLargestVolume)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_QueryGetPosition(benchmark::State& state) {
  Api& a = Plugin();
  for (auto _ : state) {
    a.Bass_GetPosition();
    benchmark::DoNotOptimize(a.GetFile());
  }
}
BENCHMARK(BM_QueryGetPosition);

void BM_QuerySec2Format(benchmark::State& state) {
  Api& a = Plugin();
  for (auto _ : state) {
    a.SetFile("3725");
    a.Bass_Sec2Format();
    benchmark::DoNotOptimize(a.GetFile());
  }
}
BENCHMARK(BM_QuerySec2Format);

// The host's environment for the run of one benchmark: E = 1 unmasks.
struct HostEnvironment {
  explicit HostEnvironment(benchmark::State& state) {
    if (state.range(0)) feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  }
  ~HostEnvironment() { fedisableexcept(FE_ALL_EXCEPT); }
};

void BM_ExportGetData(benchmark::State& state) {
  Api& a = Plugin();
  const HostEnvironment host(state);
  for (auto _ : state) benchmark::DoNotOptimize(a.GetData());
}
BENCHMARK(BM_ExportGetData)->Arg(0)->Arg(1);

void BM_FloatScope(benchmark::State& state) {
  const HostEnvironment host(state);
  float x = 1.0f;
  for (auto _ : state) {
    const tovarin::platform::HostFloatScope scope;
    x = x * 1.1f;  // raises the inexact flag, which the scope clears again
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_FloatScope)->Arg(0)->Arg(1);

// The fault server, started once for the run; its port, or 0.
int StationPort() {
  static int port = [] {
    const char* script = std::getenv("TOVARIN_FAULT_SERVER");
    if (!script) return 0;
    const std::string mp3 = "/tmp/tovarin-bench-station-" + std::to_string(getpid()) + ".mp3";
    const std::string make = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=20 -ac 2 -b:a 128k " + mp3;
    if (std::system(make.c_str()) != 0) return 0;
    // Killed (by the object's destructor) when the benchmarks end.
    static const tovarin::test::FaultServer server(script, mp3);
    return server.port;
  }();
  return port;
}

// The test station's URL, with `slot` chosen in the plug-in; "" (the
// benchmark skipped) when there is no station.
std::string UseStation(benchmark::State& state, Api& a, int32_t slot) {
  const int port = StationPort();
  if (!port) {
    state.SkipWithError("no station (set TOVARIN_FAULT_SERVER)");
    return "";
  }
  a.SetData(slot);
  a.Bass_ChannelNum();
  return "http://127.0.0.1:" + std::to_string(port) + "/live";
}

void OpenStation(benchmark::State& state, Api& a, const std::string& url) {
  a.SetFile(url.c_str());
  if (!a.Bass_Create()) state.SkipWithError("the station did not open");
}

void BM_StationCreate(benchmark::State& state) {
  Api& a = Plugin();
  const std::string url = UseStation(state, a, 2);
  if (url.empty()) return;
  for (auto _ : state) OpenStation(state, a, url);
  a.SetData(1);
  a.Bass_ChannelNum();
}
BENCHMARK(BM_StationCreate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_StationFirstSound(benchmark::State& state) {
  Api& a = Plugin();
  const std::string url = UseStation(state, a, 3);
  if (url.empty()) return;
  for (auto _ : state) {
    OpenStation(state, a, url);
    a.Bass_Play();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      tovui_pump(1);
      a.Bass_GetLLevel();
      if (std::atoi(a.GetFile()) > 0 || std::chrono::steady_clock::now() > limit) break;
    }
    state.PauseTiming();
    // A pause, not a stop: after a stop the next play opens the station a
    // second time, which is measured apart from the first sound.
    a.Bass_Pause();
    // Let the rest of the play fade and the pause fade run out.
    while (tovui_pump(300) > 0) {
    }
    state.ResumeTiming();
  }
  a.SetData(1);
  a.Bass_ChannelNum();
}
BENCHMARK(BM_StationFirstSound)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace
