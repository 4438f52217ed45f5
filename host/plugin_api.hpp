// The host's view of Plugin.so: loaded with dlopen, every export resolved
// by name. Missing exports stay null and are reported by Load.
#pragma once

#include <string>

#include <tovarin/plugin.h>

namespace host {

struct PluginApi {
  void* library = nullptr;
#define TOVARIN_FIELD(name, ...) decltype(&::name) name = nullptr;
  TOVARIN_PLUGIN_EXPORTS(TOVARIN_FIELD)
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
