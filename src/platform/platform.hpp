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

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#if !defined(__i386__) && !defined(__x86_64__)
#include <cfenv>
#endif

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

// --- clock ----------------------------------------------------------------
// The monotonic clock in nanoseconds: the steady clock, which on Linux is
// CLOCK_MONOTONIC (the clock that timer descriptors count on).
inline int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// --- threads --------------------------------------------------------------
// Lowers the calling thread's priority one step below normal.
void lower_thread_priority();
// Names a thread for debuggers and system tools (at most 15 characters are
// kept on Linux), from the thread that made it, so that it carries the name
// from the moment it exists.
void name_thread(std::thread& thread, const char* name);

// Paces a run of steps to deadlines one period apart from the pacer's
// making: the k-th wait() returns at the earliest k periods after it, so a
// late wake-up does not lengthen the run: the steps it missed follow at
// once, up to four of them (a longer stall lengthens the run instead of
// ending in a burst of steps). On
// Windows a high-resolution waitable timer waits where the system has one;
// otherwise the system's timer resolution is raised to 1 ms while the pacer
// lives (a plain 1 ms sleep takes a whole 15.6 ms tick there).
class StepPacer {
 public:
  explicit StepPacer(std::chrono::microseconds period);
  ~StepPacer();
  StepPacer(const StepPacer&) = delete;
  StepPacer& operator=(const StepPacer&) = delete;
  void wait();  // see next_deadline()
  // How it waits: "sleep" (Linux), "high-resolution timer" or
  // "timeBeginPeriod" (Windows).
  const char* method() const;

 private:
  std::chrono::steady_clock::duration period_;
  std::chrono::steady_clock::time_point next_;
  std::chrono::steady_clock::time_point next_deadline() {
    next_ = std::max(next_ + period_, std::chrono::steady_clock::now() - 4 * period_);
    return next_;
  }
  void* timer_ = nullptr;  // Windows: the waitable timer, when there is one
  bool raised_ = false;    // Windows: timeBeginPeriod(1) is in force
};

// --- floating-point environment ---------------------------------------------
// Hosts run with the floating-point environment they like: Delphi programs
// unmask the invalid-operation, divide-by-zero and overflow exceptions, some
// hosts change the rounding mode. The plug-in's code, FFmpeg's and SDL's
// expect the default one: every exception masked, rounding to nearest, no
// flush of denormals (x87 control word 0x037F, MXCSR 0x1F80).
//
// HostFloatScope, made where the host's thread enters the plug-in (the
// exports, the window procedures, the unload), sets the default environment
// for its lifetime and then hands the host its own back exactly: its control
// words, and its exception flags without any that were raised inside.
// Scopes nest (a message box's loop runs window procedures inside an export).
// use_default_float_environment() is the first line of every thread body the
// plug-in starts: on Linux a thread inherits its creator's environment.
class HostFloatScope {
 public:
  HostFloatScope() noexcept;
  ~HostFloatScope() noexcept;
  HostFloatScope(const HostFloatScope&) = delete;
  HostFloatScope& operator=(const HostFloatScope&) = delete;

 private:
#if defined(__i386__) || defined(__x86_64__)
  uint32_t mxcsr_;
  uint16_t x87_control_;
  uint16_t x87_status_;
#else
  std::fenv_t host_;
#endif
};

void use_default_float_environment() noexcept;

#if defined(__i386__) || defined(__x86_64__)
// x86 (32-bit Windows, 64-bit Linux): the x87 unit and SSE each have their
// control and flags. Read and written directly: cheaper than fenv.h's
// whole-environment calls, and the same code on both systems.
namespace float_env {
constexpr uint16_t kX87Default = 0x037F;  // all masked, nearest, 64-bit precision
constexpr uint32_t kMxcsrDefault = 0x1F80;
constexpr uint32_t kMxcsrFlags = 0x3F;
constexpr uint16_t kX87Flags = 0x7F;  // the six exceptions and the stack fault
inline uint16_t x87_control() {
  uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}
// The "memory" clobbers keep the compiler from moving loads and stores of
// the work across a change of environment.
inline void set_x87_control(uint16_t cw) { asm volatile("fldcw %0" : : "m"(cw) : "memory"); }
inline uint16_t x87_status() {
  uint16_t sw;
  asm volatile("fnstsw %0" : "=m"(sw));
  return sw;
}
inline uint32_t mxcsr() {
  uint32_t csr;
  asm volatile("stmxcsr %0" : "=m"(csr));
  return csr;
}
inline void set_mxcsr(uint32_t csr) { asm volatile("ldmxcsr %0" : : "m"(csr) : "memory"); }
// Clears the x87 flags that `keep` does not hold (fnclex clears all; the
// environment's status word can be written only whole).
inline void clear_x87_flags_except(uint16_t keep) {
  if ((keep & kX87Flags) == 0) {
    asm volatile("fnclex");
    return;
  }
  struct {
    uint32_t control, status, rest[5];
  } env;
  asm volatile("fnstenv %0" : "=m"(env));
  env.status = (env.status & ~0xFFu) | (keep & 0xFFu);
  asm volatile("fldenv %0" : : "m"(env) : "memory");
}
}  // namespace float_env

inline HostFloatScope::HostFloatScope() noexcept {
  using namespace float_env;
  mxcsr_ = mxcsr();
  x87_control_ = x87_control();
  x87_status_ = x87_status();
  if ((mxcsr_ & ~kMxcsrFlags) != kMxcsrDefault) set_mxcsr(kMxcsrDefault | (mxcsr_ & kMxcsrFlags));
  if (x87_control_ != kX87Default) set_x87_control(kX87Default);
}

inline HostFloatScope::~HostFloatScope() noexcept {
  using namespace float_env;
  // Flags first: the host's control word may unmask one of ours.
  if ((x87_status() & kX87Flags & ~x87_status_) != 0) clear_x87_flags_except(x87_status_);
  if (x87_control() != x87_control_) set_x87_control(x87_control_);
  if (mxcsr() != mxcsr_) set_mxcsr(mxcsr_);
}

inline void use_default_float_environment() noexcept {
  using namespace float_env;
  asm volatile("fnclex");
  set_x87_control(kX87Default);
  set_mxcsr(kMxcsrDefault);
}
#else
inline HostFloatScope::HostFloatScope() noexcept {
  std::fegetenv(&host_);
  std::fesetenv(FE_DFL_ENV);
}
inline HostFloatScope::~HostFloatScope() noexcept { std::fesetenv(&host_); }
inline void use_default_float_environment() noexcept { std::fesetenv(FE_DFL_ENV); }
#endif

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
