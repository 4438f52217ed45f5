// Forced into every file of the Windows test host (-include): the few POSIX
// calls that the shared plug-in tests make, over their Windows counterparts,
// so that the same tests run on both systems.
#pragma once

#ifndef _USE_MATH_DEFINES
#define _USE_MATH_DEFINES  // M_PI
#endif
#include <direct.h>
#include <process.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// Both the C library's copy and the process environment, which the plug-in
// reads with GetEnvironmentVariable.
inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name)) return 0;
  SetEnvironmentVariableA(name, value);
  return _putenv_s(name, value) == 0 ? 0 : -1;
}
inline int unsetenv(const char* name) {
  SetEnvironmentVariableA(name, nullptr);
  return _putenv_s(name, "") == 0 ? 0 : -1;
}

// The "XXXXXX" template gets the process id and a counter.
inline char* mkdtemp(char* tmpl) {
  const size_t n = std::strlen(tmpl);
  if (n < 6 || std::strcmp(tmpl + n - 6, "XXXXXX") != 0) return nullptr;
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::snprintf(tmpl + n - 6, 7, "%06u", (unsigned(_getpid()) * 131u + counter++) % 1000000u);
    if (_mkdir(tmpl) == 0) return tmpl;
  }
  return nullptr;
}

// Runs a command of this machine's own shell (/bin/sh) from inside Wine and
// answers its exit status, or -1 when it could not be started or did not end
// within timeout_ms. Test media are made and read by the host's ffmpeg.
int RunUnixShell(const std::string& command, int timeout_ms = 300000);

// Sets a file's size (sparse where the file system allows).
inline int truncate(const char* path, long long size) {
  HANDLE f = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER at;
  at.QuadPart = size;
  const bool ok = SetFilePointerEx(f, at, nullptr, FILE_BEGIN) && SetEndOfFile(f);
  CloseHandle(f);
  return ok ? 0 : -1;
}

// popen for reading: the command runs to its end through /bin/sh, its output
// is kept in a file, and the stream reads that file. pclose answers the
// command's exit status in the form of a wait status.
FILE* TestPopen(const char* command, const char* mode);
int TestPclose(FILE* stream);
#define popen TestPopen
#define pclose TestPclose
