// Compressor: feed-forward, stereo-linked peak compressor with a hard knee
// and look-ahead. The detector follows the mean of the channels' absolute
// values in dB; its attack and release cover 90 % of a step (in dB) in the
// given times.
//
// Digital silence has no level in dB to follow, so the detector neither
// starts from nor falls into minus infinity: it starts at the threshold, and
// during silence it releases no lower than the threshold (or holds where it
// is when already below). A sound that begins from silence is then caught
// in the attack time, as a step from the threshold.
#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr int kMaxChannels = 8;
constexpr float kMaxPredelayMs = 4.f;
constexpr double kFloorDb = -200;
constexpr double kSilence = 1e-5;  // -100 dB: below any 16-bit signal

class Compressor final : public RecordEffect<BASS_DX8_COMPRESSOR> {
 public:
  Compressor() { box_.set(active_); }

  void prepare(int rate, int channels) override {
    rate_ = rate;
    channels_ = std::clamp(channels, 1, kMaxChannels);
    len_ = static_cast<size_t>(kMaxPredelayMs * rate / 1000.f) + 2;
    delay_line_.assign(len_ * channels_, 0.f);
    active_ = box_.get();
    compute();
    reset();
  }

  bool accept(BASS_DX8_COMPRESSOR& s) const override {
    if (!(s.fGain >= -60 && s.fGain <= 60)) return false;
    if (!(s.fAttack >= 0.01f && s.fAttack <= 500)) return false;
    if (!(s.fRelease >= 50 && s.fRelease <= 3000)) return false;
    if (!(s.fThreshold >= -60 && s.fThreshold <= 0)) return false;
    if (!(s.fRatio >= 1 && s.fRatio <= 100)) return false;
    if (!(s.fPredelay >= 0 && s.fPredelay <= kMaxPredelayMs)) return false;
    return true;
  }

  void reset() override {
    std::fill(delay_line_.begin(), delay_line_.end(), 0.f);
    pos_ = 0;
    env_db_ = active_.fThreshold;
  }

  void process(float* x, size_t frames) override {
    if (box_.take(active_)) compute();
    const int ch = channels_;
    const double T = active_.fThreshold, R = active_.fRatio;
    for (size_t i = 0; i < frames; ++i) {
      float* f = x + i * ch;
      double level = 0;
      for (int c = 0; c < ch; ++c) level += std::fabs(f[c]);
      level /= ch;
      if (level > kSilence) {
        double in_db = 20 * std::log10(level);
        double a = in_db > env_db_ ? attack_ : release_;
        env_db_ = a * env_db_ + (1 - a) * in_db;
      } else if (env_db_ > T) {
        env_db_ = std::max(T, release_ * env_db_ + (1 - release_) * kFloorDb);
      }
      double gr_db = env_db_ > T ? (T + (env_db_ - T) / R) - env_db_ : 0;
      float g = static_cast<float>(std::pow(10.0, (gr_db + active_.fGain) / 20));
      // The sound is delayed against the detector, so attacks are caught.
      size_t read = (pos_ + len_ - delay_) % len_;
      for (int c = 0; c < ch; ++c) {
        delay_line_[pos_ * ch + c] = f[c];
        f[c] = delay_line_[read * ch + c] * g;
      }
      if (++pos_ == len_) pos_ = 0;
    }
  }

 private:
  // One-pole coefficient that covers 90 % of a step in ms milliseconds.
  double coefficient(double ms) const {
    double n = std::max(1.0, ms * rate_ / 1000.0);
    return std::pow(0.1, 1.0 / n);
  }

  void compute() {
    attack_ = coefficient(active_.fAttack);
    release_ = coefficient(active_.fRelease);
    delay_ = std::min(len_ - 1, static_cast<size_t>(std::lround(active_.fPredelay * rate_ / 1000.0)));
  }

  // control thread (prepare)
  int rate_ = 44100;
  int channels_ = 2;
  size_t len_ = 2;
  // audio thread
  BASS_DX8_COMPRESSOR active_{0, 10, 200, -20, 3, 4};
  std::vector<float> delay_line_;
  size_t pos_ = 0, delay_ = 0;
  double env_db_ = -20, attack_ = 0, release_ = 0;
};

}  // namespace

std::unique_ptr<Effect> make_compressor() { return std::make_unique<Compressor>(); }

}  // namespace tovarin::audio::dsp
