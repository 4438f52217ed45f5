#include "audio/device/output.hpp"

#include "platform/platform.hpp"

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

bool sound_system_present() { return platform::sound_system_present(); }

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
