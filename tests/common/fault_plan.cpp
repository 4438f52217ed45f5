#include "common/fault_plan.hpp"

#include <gtest/gtest.h>

#include <atomic>

namespace {
std::atomic<long> g_left{0};
std::atomic<bool> g_fired{false};
thread_local bool t_armed = false;
}  // namespace

extern "C" __attribute__((visibility("default"))) int tovarin_fault_inject(int) {
  if (!t_armed || g_left.load() <= 0) return 0;
  if (g_left.fetch_sub(1) != 1) return 0;
  g_fired = true;
  return 1;
}

namespace fault_plan {

void Arm(long n) {
  g_fired = false;
  g_left = n;
  t_armed = n > 0;
}

bool Fired() { return g_fired.load(); }

long Walk(const std::function<void()>& run, const std::function<void()>& after, long most) {
  for (long n = 1; n <= most; ++n) {
    SCOPED_TRACE("failing injection point " + std::to_string(n));
    Arm(n);
    run();
    const bool fired = Fired();
    Arm(0);
    after();
    if (!fired || ::testing::Test::HasFatalFailure()) return n - 1;
  }
  ADD_FAILURE() << "more than " << most << " injection points";
  return most;
}

}  // namespace fault_plan
