// What differs between the systems the plug-in runs on, in one place: one
// implementation per system (posix.cpp, win32.cpp), chosen at build time.
//
// Text: inside, the plug-in and the audio library work in UTF-8. A host
// passes and receives 8-bit texts in its own code page ("host text"): the
// system's ANSI code page on Windows, UTF-8 on Linux. Paths given to the
// functions below are UTF-8.
//
// Every function here may be called from any thread and throws nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

namespace tovarin::platform {

// --- text ---------------------------------------------------------------
// Host text to UTF-8 and back. A character that the target cannot hold
// becomes "?" (UTF-8 to ANSI only); nothing is ever dropped silently.
std::string host_to_utf8(std::string_view text);
std::string utf8_to_host(std::string_view text);

// --- environment ----------------------------------------------------------
// The variable's value in UTF-8; empty when it is unset or empty.
std::string env(const char* name);

// --- locale ---------------------------------------------------------------
// The user's decimal separator, as host text ("." or "," ...); "." when the
// system cannot tell. Leaves the process's own locale setting alone.
std::string user_decimal_separator();

// --- threads --------------------------------------------------------------
// Lowers the calling thread's priority one step below normal.
void lower_thread_priority();
// Names a thread for debuggers and system tools (at most 15 characters are
// kept on Linux), from the thread that made it, so that it carries the name
// from the moment it exists.
void name_thread(std::thread& thread, const char* name);

// --- files ----------------------------------------------------------------
// True when path names a regular file (not a directory, FIFO or device);
// its size goes to *size when given.
bool regular_file(const std::string& path, int64_t* size = nullptr);
// True when anything exists at path.
bool path_exists(const std::string& path);
// fopen with a UTF-8 path; binary modes only ("rb", "wb", ...).
std::FILE* open_file(const std::string& path, const char* mode);

// File descriptors for files read or written in pieces, perhaps by several
// threads (the recorder's WAV file). -1 means none; create_file and
// open_read leave errno set when they fail.
// Removes any file at path, then creates it empty for writing.
int create_file(const std::string& path);
// Appends everything (at the end of what write_all wrote before); false on
// an error (the rest is not written). write_at may run beside it on another
// thread: neither moves the other's place.
bool write_all(int fd, const void* data, size_t length);
// Writes at an absolute offset.
bool write_at(int fd, const void* data, size_t length, int64_t offset);
// Opens an existing file for reading; -1 when it does not open.
int open_read(const std::string& path);
// Reads exactly length bytes at an absolute offset; false when short.
bool read_at(int fd, void* data, size_t length, int64_t offset);
// Reads up to length bytes at an absolute offset: the count, 0 at the end of
// the file, -1 on an error (errno set).
int64_t read_some_at(int fd, void* data, size_t length, int64_t offset);
// The file's size, or -1.
int64_t file_size(int fd);
void close_file(int fd);

// --- sound ----------------------------------------------------------------
// Whether the machine has a sound system that SDL may open. Asking first
// keeps a machine without sound quiet (SDL's failure attempts print to the
// host's terminal on Linux).
bool sound_system_present();

// --- module lifetime ------------------------------------------------------
// True once the process has begun to end while this module is loaded: its
// other threads may already be gone (Windows ends them before the module's
// unload hook runs), so unload work must not join threads or take locks.
// Always false where threads outlive the unload hook (Linux).
bool process_exiting();

// While a hold is taken the module stays loaded even when the host unloads
// it: on Windows the module's threads cannot be joined from its unload hook
// (the loader's lock is held there), so the library holds itself while it
// has threads of its own, from their start until they are joined. Counted;
// does nothing on Linux, where the unload hook joins them.
void hold_module();
void release_module();

// Keeps the shared library that holds symbol loaded for the rest of the
// process (Linux: FFmpeg's and SDL's, whose constructors allocate memory
// that unloading never frees). Nothing to do where they are linked in.
void keep_library_loaded(const void* symbol);

}  // namespace tovarin::platform
