// Flanger: a modulated delay of up to 4 ms, one line per channel.
#include "audio/dsp/modulated_delay.hpp"

namespace tovarin::audio::dsp {

std::unique_ptr<Effect> make_flanger() {
  return make_modulated_delay({4.f, false, 50.f, 100.f, -50.f, 0.25f, 1, 2.f, 2});
}

}  // namespace tovarin::audio::dsp
