// The fade of Plugin.dll on Windows: from Bass_Play until the form has
// handled the volume request and the 100 steps of a fade to volume 100, the
// host pumping its messages meanwhile (silent output). Beside it, in the same
// run: 100 plain Sleep(1) calls (what the steps cost at the system's default
// timer resolution) and 100 Sleep(1) under timeBeginPeriod(1). Prints the
// medians of 15 runs and which way the plug-in paces its steps here.
#include <windows.h>
// windows.h first
#include <mmsystem.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <tovarin/plugin.h>
#include <tovarin/ui.h>

#include "common/wav.hpp"

namespace {

#define FIELD(name, ...) decltype(&::name) name = nullptr;
struct Api {
  TOVARIN_PLUGIN_EXPORTS(FIELD)
};
#undef FIELD

double MedianMs(const std::function<void()>& run) {
  std::vector<double> ms;
  for (int i = 0; i < 15; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

void Pump(int messages) {
  for (int handled = 0; handled < messages;) handled += tovui_pump(100);
}

}  // namespace

int main() {
  SetEnvironmentVariableA("TOVARIN_AUDIO_OUTPUT", "null");
  HMODULE dll = LoadLibraryA("Plugin.dll");
  if (!dll) return std::fprintf(stderr, "Plugin.dll does not load\n"), 1;
  Api a;
#define RESOLVE(name, ...) \
  a.name = reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>(GetProcAddress(dll, #name)));
  TOVARIN_PLUGIN_EXPORTS(RESOLVE)
#undef RESOLVE
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  const std::string wav = std::string(folder) + "tovarin-fade-bench.wav";
  {
    std::ofstream out(wav, std::ios::binary);
    const uint32_t bytes = 44100 * 4 * 60;  // a minute of silence
    out << testwav::header(44100, 2, 16, bytes) << std::string(bytes, '\0');
  }
  a.SetParentWindow(tovui_create_window(0, 0, 0, 320, 240));
  a.Bass_Init();
  a.SetData(1);
  a.Bass_ChannelNum();
  a.SetFile(wav.c_str());
  if (!a.Bass_Create()) return std::fprintf(stderr, "the file does not open\n"), 1;

  // The fade: the volume request and 100 steps, then the pause fade unmeasured.
  const double fade = MedianMs([&] {
    a.Bass_Play();
    Pump(101);
  });
  a.Bass_Pause();
  Pump(101);
  const double sleeps = MedianMs([] {
    for (int i = 0; i < 100; ++i) Sleep(1);
  });
  timeBeginPeriod(1);
  const double fine_sleeps = MedianMs([] {
    for (int i = 0; i < 100; ++i) Sleep(1);
  });
  timeEndPeriod(1);
  // The plug-in asks for the same timer; its answer here tells the path.
  HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, 0x2 /* HIGH_RESOLUTION */, TIMER_ALL_ACCESS);
  std::printf("fade of 100 steps: %.1f ms (median of 15); paced by %s\n", fade,
              timer ? "a high-resolution waitable timer" : "timeBeginPeriod(1) and Sleep");
  std::printf("100 x Sleep(1): %.1f ms; under timeBeginPeriod(1): %.1f ms; fade / Sleep ratio %.2f\n", sleeps,
              fine_sleeps, fade / sleeps);
  if (timer) CloseHandle(timer);
  a.Bass_Free();
  DeleteFileA(wav.c_str());
  return 0;
}
