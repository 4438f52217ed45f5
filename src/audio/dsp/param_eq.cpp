// Parametric equalizer band: one peaking biquad per channel (the audio-EQ
// cookbook's "peaking EQ", bandwidth in octaves).
#include <algorithm>
#include <cmath>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr int kMaxChannels = 8;

class ParamEq final : public RecordEffect<BASS_DX8_PARAMEQ> {
 public:
  ParamEq() { box_.set(active_); }

  void prepare(int rate, int channels) override {
    rate_ = rate;
    channels_ = std::clamp(channels, 1, kMaxChannels);
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
    for (auto& z : state_) z = {};
  }

  void process(float* x, size_t frames) override {
    if (box_.take(active_)) {
      const bool was_bypassed = bypass_;
      compute(active_);
      // The memories stopped when the band went flat; they belong to old sound.
      if (was_bypassed && !bypass_) reset();
    }
    if (bypass_) return;
    const int ch = channels_;
    for (int c = 0; c < ch; ++c) {
      State& z = state_[c];
      for (size_t i = 0; i < frames; ++i) {
        float& s = x[i * ch + c];
        // Transposed direct form II, in double so low centres stay stable.
        double in = s;
        double out = b0_ * in + z.s1;
        z.s1 = b1_ * in - a1_ * out + z.s2;
        z.s2 = b2_ * in - a2_ * out;
        s = static_cast<float>(out);
      }
      if (!(std::fabs(z.s1) >= kDenormalFloor)) z.s1 = 0;  // tiny, or not a number
      if (!(std::fabs(z.s2) >= kDenormalFloor)) z.s2 = 0;
    }
  }

 private:
  struct State {
    double s1 = 0, s2 = 0;
  };

  float clamp_center(float fc) const { return rate_ > 0 ? std::min(fc, rate_ / 3.f) : fc; }

  void compute(const BASS_DX8_PARAMEQ& s) {
    bypass_ = s.fGain == 0.f || rate_ <= 0;
    if (bypass_) return;
    const double A = std::pow(10.0, s.fGain / 40.0);
    const double w0 = 2 * M_PI * s.fCenter / rate_;
    const double bw = s.fBandwidth / 12.0;
    const double alpha = std::sin(w0) * std::sinh(std::log(2.0) / 2 * bw * w0 / std::sin(w0));
    const double a0 = 1 + alpha / A;
    b0_ = (1 + alpha * A) / a0;
    b1_ = -2 * std::cos(w0) / a0;
    b2_ = (1 - alpha * A) / a0;
    a1_ = b1_;
    a2_ = (1 - alpha / A) / a0;
  }

  // control thread
  int rate_ = 0;
  int channels_ = 2;
  // audio thread
  BASS_DX8_PARAMEQ active_{8000.f, 12.f, 0.f};
  bool bypass_ = true;
  double b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
  State state_[kMaxChannels];
};

}  // namespace

std::unique_ptr<Effect> make_param_eq() { return std::make_unique<ParamEq>(); }

}  // namespace tovarin::audio::dsp
