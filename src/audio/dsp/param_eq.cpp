// Parametric equalizer band: one peaking biquad per channel (the audio-EQ
// cookbook's "peaking EQ", bandwidth in octaves).
#include <algorithm>
#include <cmath>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr int kMaxChannels = kMaxEffectChannels;

class ParamEq final : public RecordEffect<BASS_DX8_PARAMEQ> {
 public:
  ParamEq() : RecordEffect({8000.f, 12.f, 0.f}) { rate_ = 0; }  // no rate, so bypassed, until prepared

  void prepare(int rate, int channels) override {
    set_format(rate, channels);
    BASS_DX8_PARAMEQ s = box_.get();
    s.fCenter = clamp_center(s.fCenter);
    box_.set(s);
    active_ = s;
    compute(active_);
    reset();
  }

  bool accept(BASS_DX8_PARAMEQ& s) const override {
    if (!(s.fCenter >= 80.f && s.fCenter <= 16000.f)) return false;
    if (!(s.fBandwidth >= 1.f && s.fBandwidth <= 36.f)) return false;
    if (!(s.fGain >= -15.f && s.fGain <= 15.f)) return false;
    s.fCenter = clamp_center(s.fCenter);
    return true;
  }

  void reset() override {
    for (int c = 0; c < kMaxChannels; ++c) q_.s1[c] = q_.s2[c] = 0;
  }

  Biquad* take_biquad() override {
    if (box_.take(active_)) {
      const bool was_bypassed = q_.bypass;
      compute(active_);
      // The memories stopped when the band went flat; they belong to old sound.
      if (was_bypassed && !q_.bypass) reset();
    }
    return &q_;
  }

  void process(float* x, size_t frames) override {
    Biquad* q = take_biquad();
    run_biquads(&q, 1, x, frames, channels_);
  }

 private:
  float clamp_center(float fc) const { return rate_ > 0 ? std::min(fc, rate_ / 3.f) : fc; }

  void compute(const BASS_DX8_PARAMEQ& s) {
    q_.bypass = s.fGain == 0.f || rate_ <= 0;
    if (q_.bypass) return;
    const double A = std::pow(10.0, s.fGain / 40.0);
    const double w0 = 2 * M_PI * s.fCenter / rate_;
    const double bw = s.fBandwidth / 12.0;
    const double alpha = std::sin(w0) * std::sinh(std::log(2.0) / 2 * bw * w0 / std::sin(w0));
    const double a0 = 1 + alpha / A;
    q_.g = (1 + alpha * A) / a0 - 1;  // b0 - 1
    q_.a1 = -2 * std::cos(w0) / a0;
    q_.a2 = (1 - alpha / A) / a0;
  }

  // audio thread
  Biquad q_;
};

}  // namespace

std::unique_ptr<Effect> make_param_eq() { return std::make_unique<ParamEq>(); }

}  // namespace tovarin::audio::dsp
