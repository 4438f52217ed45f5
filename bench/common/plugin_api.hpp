// The plug-in's exports resolved by name from one load of the library, as a
// host does, and the steady tone the benchmarks play.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <tovarin/plugin.h>

#include "common/wav.hpp"

namespace bench {

struct PluginApi {
#define BENCH_API_FIELD(name, ...) decltype(&::name) name = nullptr;
  TOVARIN_PLUGIN_EXPORTS(BENCH_API_FIELD)
#undef BENCH_API_FIELD
  void* library = nullptr;

  PluginApi() = default;
  explicit PluginApi(void* lib) : library(lib) {
#define BENCH_API_RESOLVE(name, ...) name = reinterpret_cast<decltype(&::name)>(dlsym(lib, #name));
    TOVARIN_PLUGIN_EXPORTS(BENCH_API_RESOLVE)
#undef BENCH_API_RESOLVE
  }
  // Loads the plug-in at `path`, or ends the program with the loader's reason.
  static PluginApi Load(const char* path) {
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
      std::exit(1);
    }
    return PluginApi(lib);
  }
};

// A steady 420 Hz tone, stereo 16-bit at 44.1 kHz, in a file of this process.
inline std::string WriteTone(const std::string& name, double seconds) {
  const std::string path = "/tmp/tovarin-bench-" + name + "-" + std::to_string(getpid()) + ".wav";
  const auto frames = static_cast<uint32_t>(seconds * 44100);
  std::vector<int16_t> s(frames * 2);
  for (uint32_t i = 0; i < frames; ++i) s[2 * i] = s[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(i * 0.06));
  testwav::write(path, 44100, 2, s);
  return path;
}

}  // namespace bench
