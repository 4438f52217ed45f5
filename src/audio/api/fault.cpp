#include "audio/api/fault.hpp"

#ifdef TOVARIN_FAULT_INJECTION

#include <dlfcn.h>

#include <atomic>

namespace tovarin::audio::fault {

namespace {
using Inject = int (*)(int);
// Looked up once per load of the module: a test defines the function before
// it loads the library.
Inject lookup() noexcept {
  static const Inject found = reinterpret_cast<Inject>(dlsym(RTLD_DEFAULT, "tovarin_fault_inject"));
  return found;
}
}  // namespace

bool fail(Kind kind) noexcept {
  const Inject inject = lookup();
  return inject && inject(static_cast<int>(kind)) != 0;
}

}  // namespace tovarin::audio::fault

#endif
