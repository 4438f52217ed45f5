// dlopen and friends over LoadLibrary for the Windows test host. Paths may
// use "/"; RTLD_NOLOAD finds a module already loaded (and counts a
// reference, as dlopen does).
#pragma once

#include <windows.h>

#include <string>

#define RTLD_LAZY 1
#define RTLD_NOW 2
#define RTLD_LOCAL 0
#define RTLD_NOLOAD 4

inline std::string& DlLastError() {
  static std::string error;
  return error;
}

inline void* dlopen(const char* path, int flags) {
  std::string p = path ? path : "";
  for (char& c : p)
    if (c == '/') c = '\\';
  HMODULE module = nullptr;
  if (flags & RTLD_NOLOAD)
    GetModuleHandleExA(0, p.c_str(), &module);
  else
    module = LoadLibraryA(p.c_str());
  if (!module) DlLastError() = "cannot load " + p + " (error " + std::to_string(GetLastError()) + ")";
  return module;
}

inline void* dlsym(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

inline int dlclose(void* module) { return FreeLibrary(static_cast<HMODULE>(module)) ? 0 : -1; }

inline const char* dlerror() { return DlLastError().c_str(); }
