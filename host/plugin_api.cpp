#include "plugin_api.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace host {

bool PluginApi::Load(const std::string& path, std::string& error) {
  library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = dlerror();
    error = "cannot load the plug-in " + path + ": " + (why ? why : "unknown error");
    return false;
  }
  std::string missing;
#define TOVARIN_RESOLVE(name, ...)                                   \
  name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  if (!name) missing += missing.empty() ? std::string(#name) : ", " + std::string(#name);
  TOVARIN_PLUGIN_EXPORTS(TOVARIN_RESOLVE)
#undef TOVARIN_RESOLVE
  if (!missing.empty()) {
    error = "the plug-in " + path + " lacks exports: " + missing;
    Unload();
    return false;
  }
  return true;
}

void PluginApi::Unload() {
  if (library) dlclose(library);
  library = nullptr;
}

std::string PluginApi::Query(void (*op)()) {
  op();
  const char* text = GetFile();
  return text ? text : "";
}

std::string PluginApi::Tag(const char* key) {
  SetFile(key);
  return Query(Bass_GetTags);
}

std::string PluginApi::Format(uint32_t seconds) {
  SetFile(std::to_string(seconds).c_str());
  return Query(Bass_Sec2Format);
}

std::string DefaultPluginPath() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "Plugin.so";
  std::string path(self, static_cast<size_t>(n));
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
#ifdef TOVARIN_INSTALLED_PLUGIN
  // Installed: bin/tovarin and lib/tovarin/Plugin.so.
  const std::string installed = dir + "/" TOVARIN_INSTALLED_PLUGIN;
  if (access((dir + "/Plugin.so").c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0) return installed;
#endif
  return dir + "/Plugin.so";
}

}  // namespace host
