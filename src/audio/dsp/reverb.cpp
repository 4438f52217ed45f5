// Reverb: a feedback delay network of four lines (45 ms apart by steps of
// 2^(1/4)) mixed by an orthogonal (Hadamard) matrix. Each line of M samples
// has loop gain 10^(-3 M / (fs T60)), so every mode decays by 60 dB in the
// reverb time; a one-pole lowpass in each loop lowers the loop gain at high
// frequencies to that of a decay in T60 x ratio. The channels' mean feeds
// the network; even channels hear lines 0 and 2, odd ones lines 1 and 3.
#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr int kMaxChannels = 8;
constexpr int kLines = 4;
constexpr double kBaseMs = 45.0;

class Reverb final : public RecordEffect<BASS_DX8_REVERB> {
 public:
  Reverb() { box_.set(active_); }

  void prepare(int rate, int channels) override {
    rate_ = rate;
    channels_ = std::clamp(channels, 1, kMaxChannels);
    for (int i = 0; i < kLines; ++i) {
      size_t m = static_cast<size_t>(std::lround(kBaseMs * std::pow(2.0, i / 4.0) * rate / 1000.0));
      length_[i] = std::max<size_t>(m | 1, 3);  // odd lengths keep the modes apart
      line_[i].assign(length_[i], 0.f);
    }
    active_ = box_.get();
    compute();
    reset();
  }

  bool accept(BASS_DX8_REVERB& s) const override {
    if (!(s.fInGain >= -96 && s.fInGain <= 0)) return false;
    if (!(s.fReverbMix >= -96 && s.fReverbMix <= 0)) return false;
    if (!(s.fReverbTime >= 0.001f && s.fReverbTime <= 3000)) return false;
    if (!(s.fHighFreqRTRatio >= 0.001f && s.fHighFreqRTRatio <= 0.999f)) return false;
    return true;
  }

  void reset() override {
    for (int i = 0; i < kLines; ++i) {
      std::fill(line_[i].begin(), line_[i].end(), 0.f);
      pos_[i] = 0;
      lp_[i] = 0;
    }
  }

  void process(float* x, size_t frames) override {
    if (box_.take(active_)) compute();
    const int ch = channels_;
    for (size_t n = 0; n < frames; ++n) {
      float* f = x + n * ch;
      float in = 0;
      for (int c = 0; c < ch; ++c) in += f[c];
      in = in / ch * in_gain_;
      float o[kLines], y[kLines];
      for (int i = 0; i < kLines; ++i) {
        o[i] = line_[i][pos_[i]];  // written length_[i] samples ago
        lp_[i] = (1 - b_[i]) * o[i] + b_[i] * lp_[i];
        if (std::fabs(lp_[i]) < 1e-25f) lp_[i] = 0;
        y[i] = g_[i] * lp_[i];
      }
      // Orthogonal mixing keeps the loop gains what they are per line.
      float m0 = 0.5f * (y[0] + y[1] + y[2] + y[3]);
      float m1 = 0.5f * (y[0] - y[1] + y[2] - y[3]);
      float m2 = 0.5f * (y[0] + y[1] - y[2] - y[3]);
      float m3 = 0.5f * (y[0] - y[1] - y[2] + y[3]);
      const float mixed[kLines] = {m0, m1, m2, m3};
      for (int i = 0; i < kLines; ++i) {
        line_[i][pos_[i]] = in + mixed[i];
        if (++pos_[i] == length_[i]) pos_[i] = 0;
      }
      const float wl = (o[0] + o[2]) * norm_, wr = (o[1] + o[3]) * norm_;
      for (int c = 0; c < ch; ++c) {
        float wet = ch == 1 ? 0.5f * (wl + wr) : c % 2 ? wr : wl;
        f[c] = dry_ * f[c] + wet_ * wet;
      }
    }
  }

 private:
  void compute() {
    const auto& s = active_;
    const double t60 = s.fReverbTime / 1000.0;
    double gmean = 1;
    for (int i = 0; i < kLines; ++i) {
      double m = static_cast<double>(length_[i]);
      double g = std::pow(10.0, -3 * m / (rate_ * t60));
      double g_high = std::pow(10.0, -3 * m / (rate_ * t60 * s.fHighFreqRTRatio));
      double r = g > 0 ? std::max(g_high / g, 1e-6) : 1;
      g_[i] = static_cast<float>(g);
      // One pole with unity gain at DC and gain r at Nyquist.
      b_[i] = static_cast<float>((1 - r) / (1 + r));
      gmean *= g;
    }
    gmean = std::pow(gmean, 1.0 / kLines);
    // About unity energy for the wet path: a comb's tail carries 1 / (1 - g^2).
    norm_ = static_cast<float>(std::sqrt(std::max(1e-6, 1 - gmean * gmean)) / std::sqrt(2.0));
    const double share = std::pow(10.0, s.fReverbMix / 10.0);
    const double gain = std::pow(10.0, s.fInGain / 20.0);
    dry_ = static_cast<float>(std::sqrt(std::max(0.0, 1 - share)) * gain);
    wet_ = static_cast<float>(std::sqrt(share));
    in_gain_ = static_cast<float>(gain);
  }

  // control thread (prepare)
  int rate_ = 44100;
  int channels_ = 2;
  size_t length_[kLines] = {};
  // audio thread
  BASS_DX8_REVERB active_{0, 0, 1000, 0.001f};
  std::vector<float> line_[kLines];
  size_t pos_[kLines] = {};
  float lp_[kLines] = {}, g_[kLines] = {}, b_[kLines] = {};
  float norm_ = 0.5f, dry_ = 0, wet_ = 1, in_gain_ = 1;
};

}  // namespace

std::unique_ptr<Effect> make_reverb() { return std::make_unique<Reverb>(); }

}  // namespace tovarin::audio::dsp
