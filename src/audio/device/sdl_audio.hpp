// SDL2's audio calls, reached through one table. On Linux SDL2 is loaded the
// first time a device is wanted: a process that only decodes, or plays to a
// file or to the silent output, never maps it and the libraries under it
// (sound servers, X11, Wayland), which would cost every load of the plug-in
// milliseconds. On Windows SDL2 is linked into the module and the table
// points at it.
#pragma once

#include <SDL2/SDL.h>

#include <string>

namespace tovarin::audio {

struct SdlAudio {
  decltype(&SDL_InitSubSystem) InitSubSystem;
  decltype(&SDL_QuitSubSystem) QuitSubSystem;
  decltype(&SDL_GetError) GetError;
  decltype(&SDL_OpenAudioDevice) OpenAudioDevice;
  decltype(&SDL_CloseAudioDevice) CloseAudioDevice;
  decltype(&SDL_PauseAudioDevice) PauseAudioDevice;
  decltype(&SDL_GetAudioDeviceStatus) GetAudioDeviceStatus;
  decltype(&SDL_GetNumAudioDevices) GetNumAudioDevices;
  decltype(&SDL_GetAudioDeviceName) GetAudioDeviceName;
};

// The table, loading SDL2 on the first call (it then stays loaded); nullptr,
// with the reason in *error, when SDL2 cannot be loaded.
const SdlAudio* sdl_audio(std::string* error);

// The table once sdl_audio() has given it.
inline const SdlAudio& sdl() { return *sdl_audio(nullptr); }

// Starts SDL's audio: false, with the reason in *error, when SDL2 cannot be
// loaded or its audio does not start.
inline bool sdl_audio_start(std::string* error) {
  const SdlAudio* api = sdl_audio(error);
  if (!api) return false;
  if (api->InitSubSystem(SDL_INIT_AUDIO) == 0) return true;
  if (error) *error = api->GetError();
  return false;
}

}  // namespace tovarin::audio
