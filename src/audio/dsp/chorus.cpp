// Chorus: a modulated delay of up to 20 ms on one line fed by the channels' mean.
#include "audio/dsp/modulated_delay.hpp"

namespace tovarin::audio::dsp {

std::unique_ptr<Effect> make_chorus() {
  return make_modulated_delay({.max_delay_ms = 20.f,
                               .mono_line = true,
                               .mix = 50.f,
                               .depth = 10.f,
                               .feedback = 25.f,
                               .frequency = 1.1f,
                               .waveform = 1,
                               .delay = 16.f,
                               .phase = 3});
}

}  // namespace tovarin::audio::dsp
