/*
 * tovarin: the version of the public headers, included by plugin.h and
 * ui.h (a host may include either alone, or both).
 *
 * A library of the same MAJOR keeps every export and call declared in them;
 * MINOR adds, PATCH fixes. TOVARIN_VERSION packs the three as
 * (MAJOR << 16) | (MINOR << 8) | PATCH, the form tovui_version() (ui.h)
 * answers for the running window-system library. The build reads the three
 * numbers from here: the library's file name, the packages and
 * tovui_version() follow them. Plugin.so's GetInfo text does not.
 */
#ifndef TOVARIN_VERSION_H
#define TOVARIN_VERSION_H

#define TOVARIN_VERSION_MAJOR 1
#define TOVARIN_VERSION_MINOR 0
#define TOVARIN_VERSION_PATCH 0
#define TOVARIN_MAKE_VERSION(major, minor, patch) (((major) << 16) | ((minor) << 8) | (patch))
#define TOVARIN_VERSION TOVARIN_MAKE_VERSION(TOVARIN_VERSION_MAJOR, TOVARIN_VERSION_MINOR, TOVARIN_VERSION_PATCH)

#endif
