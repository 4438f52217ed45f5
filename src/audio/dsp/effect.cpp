#include "audio/dsp/effect.hpp"

#include "audio/bass.h"

namespace tovarin::audio::dsp {

namespace {
struct EffectEntry {
  uint32_t type;
  std::unique_ptr<Effect> (*make)();
};
constexpr EffectEntry kEffects[] = {
    {BASS_FX_DX8_PARAMEQ, make_param_eq},       {BASS_FX_DX8_CHORUS, make_chorus},
    {BASS_FX_DX8_FLANGER, make_flanger},        {BASS_FX_DX8_ECHO, make_echo},
    {BASS_FX_DX8_COMPRESSOR, make_compressor},  {BASS_FX_DX8_REVERB, make_reverb},
};
}  // namespace

std::unique_ptr<Effect> make_effect(uint32_t type) {
  for (const auto& e : kEffects)
    if (e.type == type) return e.make();
  return nullptr;
}

}  // namespace tovarin::audio::dsp
