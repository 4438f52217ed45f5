// Fault injection from a test: this process's tovarin_fault_inject (see
// src/audio/api/fault.hpp), with a countdown. Link fault_plan.cpp into the
// test program and export its symbols (ENABLE_EXPORTS), so that the library
// finds the function, linked in or loaded with dlopen.
#pragma once

#include <functional>

namespace fault_plan {

// Fails the n-th injection point (n >= 1) that the calling thread reaches
// from now on; points reached on other threads run normally. 0 disarms.
void Arm(long n);
// Whether the armed point was reached (and failed) since Arm.
bool Fired();

// Runs run() with the 1st, 2nd, 3rd ... point failing, then after() with
// the library working normally again, until a run reaches no n-th point.
// Answers how many points the path has (the last n - 1); gives up, failing
// the test, after `most` runs.
long Walk(const std::function<void()>& run, const std::function<void()>& after, long most = 400);

}  // namespace fault_plan
