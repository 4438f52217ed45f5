// The host's view of Plugin.so: loaded with dlopen, every export resolved
// by name. Missing exports stay null and are reported by Load.
#pragma once

#include <string>

#include <tovarin/plugin.h>

namespace host {

struct PluginApi {
  void* library = nullptr;
#define TOVARIN_EXPORTS(X)                                                                                  \
  X(Copyright) X(GetInfo) X(GetType) X(SetPath) X(SetParentWindow) X(Draw) X(SetFile) X(GetFile) X(SetData) \
  X(GetData) X(Bass_Init) X(Bass_ChannelNum) X(Bass_Create) X(Bass_Free) X(Bass_Play) X(Bass_Pause)          \
  X(Bass_Stop) X(Bass_GetPosition) X(Bass_GetLength) X(Bass_Sec2Format) X(Bass_SetPosition) X(Bass_SetVolume) \
  X(Bass_GetFreq) X(Bass_GetChannels) X(Bass_GetBit) X(Bass_GetTags) X(Bass_GetLLevel) X(Bass_GetRLevel) \
  X(StartDraw) X(StopDraw)
#define TOVARIN_FIELD(name) decltype(&::name) name = nullptr;
  TOVARIN_EXPORTS(TOVARIN_FIELD)
#undef TOVARIN_FIELD

  // Loads the library; on failure returns false with a message in error.
  bool Load(const std::string& path, std::string& error);
  void Unload();

  // Conveniences over the queues.
  std::string Query(void (*op)());
  std::string Tag(const char* key);
  std::string Format(uint32_t seconds);
};

// Plugin.so beside this executable, or where an installation puts it.
std::string DefaultPluginPath();

}  // namespace host
