#include "audio/device/sdl_audio.hpp"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace tovarin::audio {

namespace {

struct Loaded {
  SdlAudio api{};
  bool ok = false;
  std::string error;
};

#ifdef _WIN32

Loaded load() {
  Loaded l;
  l.api = {&SDL_InitSubSystem,        &SDL_QuitSubSystem,      &SDL_GetError,
           &SDL_OpenAudioDevice,      &SDL_CloseAudioDevice,   &SDL_PauseAudioDevice,
           &SDL_GetAudioDeviceStatus, &SDL_GetNumAudioDevices, &SDL_GetAudioDeviceName};
  l.ok = true;
  return l;
}

#else

template <typename F>
bool bind(void* lib, const char* name, F* to, std::string* error) {
  void* f = dlsym(lib, name);
  if (!f) {
    *error = std::string("SDL2 has no ") + name;
    return false;
  }
  *to = reinterpret_cast<F>(f);
  return true;
}

Loaded load() {
  Loaded l;
  // Never closed: SDL's threads and its sound-server clients outlive any
  // one device, and loading it again would cost as much as the first time.
  void* lib = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!lib) {
    const char* why = dlerror();
    l.error = std::string("SDL2 could not be loaded: ") + (why ? why : "unknown reason");
    return l;
  }
  SdlAudio& a = l.api;
  l.ok = bind(lib, "SDL_InitSubSystem", &a.InitSubSystem, &l.error) &&
         bind(lib, "SDL_QuitSubSystem", &a.QuitSubSystem, &l.error) &&
         bind(lib, "SDL_GetError", &a.GetError, &l.error) &&
         bind(lib, "SDL_OpenAudioDevice", &a.OpenAudioDevice, &l.error) &&
         bind(lib, "SDL_CloseAudioDevice", &a.CloseAudioDevice, &l.error) &&
         bind(lib, "SDL_PauseAudioDevice", &a.PauseAudioDevice, &l.error) &&
         bind(lib, "SDL_GetAudioDeviceStatus", &a.GetAudioDeviceStatus, &l.error) &&
         bind(lib, "SDL_GetNumAudioDevices", &a.GetNumAudioDevices, &l.error) &&
         bind(lib, "SDL_GetAudioDeviceName", &a.GetAudioDeviceName, &l.error);
  return l;
}

#endif

}  // namespace

const SdlAudio* sdl_audio(std::string* error) {
  static const Loaded loaded = load();
  if (!loaded.ok) {
    if (error) *error = loaded.error;
    return nullptr;
  }
  return &loaded.api;
}

}  // namespace tovarin::audio
