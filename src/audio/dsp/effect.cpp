#include "audio/dsp/effect.hpp"

#include <atomic>
#include <cmath>

#include "audio/bass.h"
#include "audio/dsp/simd.hpp"

namespace tovarin::audio::dsp {

namespace {
struct EffectEntry {
  uint32_t type;
  std::unique_ptr<Effect> (*make)();
};
constexpr EffectEntry kEffects[] = {
    {BASS_FX_DX8_PARAMEQ, make_param_eq},      {BASS_FX_DX8_CHORUS, make_chorus},
    {BASS_FX_DX8_FLANGER, make_flanger},       {BASS_FX_DX8_ECHO, make_echo},
    {BASS_FX_DX8_COMPRESSOR, make_compressor}, {BASS_FX_DX8_REVERB, make_reverb},
};
}  // namespace

namespace {
#if defined(TOVARIN_WIDE_VECTORS)
bool processor_has_wide() {
  // Also from a static initialiser, which may run before libgcc's own: ask
  // it to read the processor first.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
#else
bool processor_has_wide() { return false; }
#endif
std::atomic<bool> wide{processor_has_wide()};
}  // namespace

bool wide_vectors() { return wide.load(std::memory_order_relaxed); }

bool use_wide_vectors(bool on) {
  if (on && !processor_has_wide()) return false;
  wide.store(on, std::memory_order_relaxed);
  return true;
}

size_t sanitize(float* x, size_t n) {
  // A cheap check first (it vectorises, with an int to gather into); the
  // repair runs only on a bad block.
  int bad = 0;
  for (size_t i = 0; i < n; ++i) bad |= !(std::fabs(x[i]) <= kSampleLimit);
  if (!bad) return 0;
  size_t changed = 0;
  for (size_t i = 0; i < n; ++i) {
    const float a = std::fabs(x[i]);
    if (a <= kSampleLimit) continue;
    x[i] = std::isfinite(a) ? std::copysign(kSampleLimit, x[i]) : 0.f;
    ++changed;
  }
  return changed;
}

std::unique_ptr<Effect> make_effect(uint32_t type) {
  for (const auto& e : kEffects)
    if (e.type == type) return e.make();
  return nullptr;
}

}  // namespace tovarin::audio::dsp
