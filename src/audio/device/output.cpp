#include "audio/device/output.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace tovarin::audio {

namespace {
struct OutputEntry {
  const char* name;  // "wav" matches "wav:PATH"
  std::unique_ptr<Output> (*make)(const std::string& arg, int rate);
};
constexpr OutputEntry kOutputs[] = {
    {"null", make_null_output},
    {"wav", make_wav_output},
    {"sdl", make_sdl_output},
};

std::unique_ptr<Output> start_named(const std::string& name, const std::string& arg, int rate, std::string* error) {
  for (const auto& e : kOutputs) {
    if (name != e.name) continue;
    auto out = e.make(arg, rate);
    if (!out) {
      if (error) *error = "bad output argument: " + arg;
      return nullptr;
    }
    return out;
  }
  if (error) *error = "unknown audio output: " + name;
  return nullptr;
}
}  // namespace

// Without a sound server or a sound card, SDL falls through to ALSA, which
// fails noisily on standard error (in the host's terminal). Asking first
// keeps a machine without sound quiet; an explicit SDL_AUDIODRIVER is
// always tried.
bool sound_system_present() {
  if (const char* driver = std::getenv("SDL_AUDIODRIVER"); driver && *driver) return true;
  if (const char* server = std::getenv("PULSE_SERVER"); server && *server) return true;
  struct stat st;
  auto exists = [&](const std::string& path) { return ::stat(path.c_str(), &st) == 0; };
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    const std::string dir = runtime;
    if (exists(dir + "/pulse/native") || exists(dir + "/pipewire-0")) return true;
  }
  if (exists("/run/pulse/native") || exists("/var/run/pulse/native")) return true;
  if (DIR* snd = ::opendir("/dev/snd")) {
    bool pcm = false;
    while (const dirent* e = ::readdir(snd))
      if (std::strncmp(e->d_name, "pcm", 3) == 0) pcm = true;
    ::closedir(snd);
    if (pcm) return true;
  }
  return false;
}

std::unique_ptr<Output> open_output(const std::string& choice, int rate, std::string* error) {
  if (choice.empty() || choice == "auto") {
    if (!sound_system_present()) {
      if (error) *error = "no sound system";
      return nullptr;  // the caller falls back to the silent output
    }
    return start_named("sdl", "", rate, error);
  }
  auto colon = choice.find(':');
  std::string name = choice.substr(0, colon);
  std::string arg = colon == std::string::npos ? "" : choice.substr(colon + 1);
  return start_named(name, arg, rate, error);
}

}  // namespace tovarin::audio
