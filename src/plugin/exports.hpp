// Export attributes: every export is a C function (the C calling convention).
// On Linux it has default visibility (all else is hidden and the version
// script lists the names); on Windows the module-definition file Plugin.def
// names the exports and their ordinals.
#pragma once

#ifdef _WIN32
#define TOVARIN_EXPORT extern "C"
#else
#define TOVARIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
