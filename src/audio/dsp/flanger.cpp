// Flanger: a modulated delay of up to 4 ms, one line per channel.
#include "audio/dsp/modulated_delay.hpp"

namespace tovarin::audio::dsp {

std::unique_ptr<Effect> make_flanger() {
  return make_modulated_delay({.max_delay_ms = 4.f,
                               .mono_line = false,
                               .mix = 50.f,
                               .depth = 100.f,
                               .feedback = -50.f,
                               .frequency = 0.25f,
                               .waveform = 1,
                               .delay = 2.f,
                               .phase = 2});
}

}  // namespace tovarin::audio::dsp
