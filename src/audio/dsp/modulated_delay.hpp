// Chorus and flanger: a delay line read at a delay swept by an LFO around a
// centre tap, written with the input plus feedback from the centre tap.
// The chorus feeds one line with the mean of the channels; the flanger keeps
// one line per channel. Each output channel reads with its own LFO: even
// channels at phase 0, odd channels shifted by the phase code.
#pragma once

#include <memory>

#include "audio/dsp/effect.hpp"

namespace tovarin::audio::dsp {

struct ModulatedDelayKind {
  float max_delay_ms;  // 20 chorus, 4 flanger
  bool mono_line;      // chorus: one line fed (L+R)/2
  // The parameter defaults (fWetDryMix, fDepth, fFeedback, fFrequency,
  // lWaveform, fDelay, lPhase).
  float mix, depth, feedback, frequency;
  unsigned waveform;
  float delay;
  unsigned phase;
};

std::unique_ptr<Effect> make_modulated_delay(const ModulatedDelayKind& kind);

}  // namespace tovarin::audio::dsp
