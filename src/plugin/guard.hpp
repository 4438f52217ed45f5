// The wall around every export: no C++ exception may reach the host.
#pragma once

#include <utility>

namespace tovarin {

template <class F>
void Guarded(F&& body) noexcept {
  try {
    std::forward<F>(body)();
  } catch (...) {
    // A failure that no operation handled ends the export quietly.
  }
}

template <class R, class F>
R GuardedResult(R fallback, F&& body) noexcept {
  try {
    return std::forward<F>(body)();
  } catch (...) {
    return fallback;
  }
}

}  // namespace tovarin
