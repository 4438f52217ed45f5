// Fault injection: makes a chosen allocation, thread start, file open or
// device open of the library fail, so that tests can walk every failure path.
//
// How to use it. Build with -DTOVARIN_FAULT_INJECTION=ON (the default for
// Debug and sanitizer builds; release builds compile every point to nothing).
// The library then asks, at each injection point, a function that the
// process defines and exports:
//
//   extern "C" int tovarin_fault_inject(int kind);  // kind: fault::Kind
//
// found with dlsym in the whole process, so it reaches Plugin.so loaded by a
// host as well as a test linked with the static library. A nonzero answer
// makes that point fail: an allocation throws std::bad_alloc, a thread start
// throws std::system_error, a file or device open answers as if the file or
// device were not there. A process without the function runs every point
// normally. tests/common/fault_plan.{hpp,cpp} defines it with a countdown:
// arm(n) fails the n-th point reached on the arming thread; a walk over
// n = 1, 2, 3 ... until a run reaches no n-th point visits every point of a
// path in turn (scripts/fault-walk.sh, tests/*/fault_*_test.cpp).
//
// Points sit on the control thread's paths (entry of every call, the create
// and start paths); threads that the library runs on its own (decoders,
// device watchers) reach none, so a walk is the same on every run.
#pragma once

#include <new>
#include <system_error>

namespace tovarin::audio::fault {

enum class Kind : int { Alloc = 0, Thread = 1, File = 2, Device = 3 };

#ifdef TOVARIN_FAULT_INJECTION
// True when the process asks this point to fail.
bool fail(Kind kind) noexcept;
#else
constexpr bool fail(Kind) noexcept { return false; }
#endif

// An allocation point: throws std::bad_alloc when it is to fail.
inline void alloc() {
  if (fail(Kind::Alloc)) throw std::bad_alloc();
}

// A thread start: throws as std::thread does when no thread can be made.
inline void thread_start() {
  if (fail(Kind::Thread)) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

}  // namespace tovarin::audio::fault
