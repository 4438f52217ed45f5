// Chorus: a modulated delay of up to 20 ms on one line fed by the channels' mean.
#include "audio/dsp/modulated_delay.hpp"

namespace tovarin::audio::dsp {

std::unique_ptr<Effect> make_chorus() {
  return make_modulated_delay({20.f, true, 50.f, 10.f, 25.f, 1.1f, 1, 16.f, 3});
}

}  // namespace tovarin::audio::dsp
