// Reverb: input diffusion, then a feedback delay network of eight lines.
//
// The channels' mean (times the input gain) runs through four short
// allpasses, which smear an impulse into a dense burst, and enters eight
// recirculating lines of 34..62 ms (steps of 2^(1/8), prime lengths) mixed by
// an orthogonal 8 x 8 Hadamard matrix. A line of M samples has loop gain
// g = 10^(-3 M / (fs T60)) at low frequencies, so every mode decays by 60 dB
// in the reverb time whatever the line, and 10^(-3 M / (fs T60 ratio)) at
// high frequencies. The loop filter is a shelf built from a fourth-order
// Linkwitz-Riley crossover at 2 kHz: low x LP + high x HP, where LP + HP is
// an allpass, so the gain is flat at the low value up to about 1 kHz for any
// ratio and reaches the high value above about 4 kHz. Left and right take
// the filtered lines with orthogonal sign patterns, so they are
// decorrelated; a mono stream hears their mean.
#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr int kMaxChannels = 8;
constexpr int kLines = 8;
constexpr double kShortestMs = 34.0;
constexpr int kDiffusers = 4;
constexpr double kDiffuserMs[kDiffusers] = {1.3, 1.9, 2.9, 4.1};
constexpr float kDiffuserGain = 0.62f;
constexpr double kCrossoverHz = 2000.0;

// Signs feeding the lines and reading them out: no two alike and none a
// Hadamard row, so every line is reached at once and left and right differ.
constexpr float kInSign[kLines] = {1, 1, -1, 1, -1, -1, 1, -1};
constexpr float kLeft[kLines] = {1, 1, 1, -1, 1, -1, -1, -1};
constexpr float kRight[kLines] = {1, -1, 1, 1, -1, -1, 1, -1};

bool is_prime(size_t n) {
  if (n < 2) return false;
  for (size_t d = 2; d * d <= n; ++d)
    if (n % d == 0) return false;
  return true;
}

size_t pow2_at_least(size_t n) {
  size_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

// In-place orthogonal mixing: the fast Walsh-Hadamard transform of eight
// values, scaled by 1/sqrt(8) so it keeps energy.
inline void hadamard8(float* v) {
  for (int h = 1; h < kLines; h <<= 1)
    for (int i = 0; i < kLines; i += 2 * h)
      for (int j = i; j < i + h; ++j) {
        float a = v[j], b = v[j + h];
        v[j] = a + b;
        v[j + h] = a - b;
      }
  constexpr float kScale = 0.35355339059327373f;
  for (int i = 0; i < kLines; ++i) v[i] *= kScale;
}

// Transposed direct form II biquad over the eight lines at once.
struct Biquad8 {
  float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  float s1[kLines] = {}, s2[kLines] = {};
  inline void run(const float* x, float* y) {
    for (int i = 0; i < kLines; ++i) {
      float in = x[i];
      float out = b0 * in + s1[i];
      s1[i] = b1 * in - a1 * out + s2[i];
      s2[i] = b2 * in - a2 * out;
      y[i] = out;
    }
  }
  void clear() {
    std::fill(std::begin(s1), std::end(s1), 0.f);
    std::fill(std::begin(s2), std::end(s2), 0.f);
  }
  void flush() {
    for (int i = 0; i < kLines; ++i) {
      if (!(std::fabs(s1[i]) >= 1e-25f)) s1[i] = 0;  // also clears a NaN
      if (!(std::fabs(s2[i]) >= 1e-25f)) s2[i] = 0;
    }
  }
};

class Reverb final : public RecordEffect<BASS_DX8_REVERB> {
 public:
  Reverb() { box_.set(active_); }

  void prepare(int rate, int channels) override {
    rate_ = rate > 0 ? rate : 44100;
    channels_ = std::clamp(channels, 1, kMaxChannels);
    size_t longest = 0;
    for (int i = 0; i < kLines; ++i) {
      size_t m = static_cast<size_t>(std::lround(kShortestMs * std::pow(2.0, i / 8.0) * rate_ / 1000.0));
      m = std::max<size_t>(m, 3);
      while (!is_prime(m)) ++m;  // prime lengths keep the modes apart
      length_[i] = m;
      longest = std::max(longest, m);
    }
    mask_ = pow2_at_least(longest + 1) - 1;
    lines_.assign((mask_ + 1) * kLines, 0.f);
    for (int k = 0; k < kDiffusers; ++k) {
      diff_len_[k] = std::max<size_t>(1, static_cast<size_t>(std::lround(kDiffuserMs[k] * rate_ / 1000.0)));
      diff_mask_[k] = pow2_at_least(diff_len_[k] + 1) - 1;
      diff_[k].assign(diff_mask_[k] + 1, 0.f);
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
    std::fill(lines_.begin(), lines_.end(), 0.f);
    for (auto& d : diff_) std::fill(d.begin(), d.end(), 0.f);
    lp1_.clear();
    lp2_.clear();
    ap_.clear();
    n_ = 0;
  }

  void process(float* x, size_t frames) override {
    if (box_.take(active_)) compute();
    if (lines_.empty()) return;
    const int ch = channels_;
    const float inv_ch = 1.f / ch;
    for (size_t t = 0; t < frames; ++t) {
      float* f = x + t * ch;
      float sum = 0;
      for (int c = 0; c < ch; ++c) sum += f[c];
      float wl, wr;
      step(sum * inv_ch * in_gain_, wl, wr);
      if (ch == 2) {
        f[0] = dry_ * f[0] + wl;
        f[1] = dry_ * f[1] + wr;
      } else if (ch == 1) {
        f[0] = dry_ * f[0] + 0.5f * (wl + wr);
      } else {
        for (int c = 0; c < ch; ++c) f[c] = dry_ * f[c] + (c % 2 ? wr : wl);
      }
    }
    lp1_.flush();
    lp2_.flush();
    ap_.flush();
  }

 private:
  // One sample into the network; the wet left and right (already scaled by
  // the wet gain) out.
  inline void step(float in, float& wl, float& wr) {
    // Diffusion: Schroeder allpasses in series.
    for (int k = 0; k < kDiffusers; ++k) {
      std::vector<float>& buf = diff_[k];
      const size_t m = diff_mask_[k];
      float delayed = buf[(n_ - diff_len_[k]) & m];
      float w = in + kDiffuserGain * delayed;
      buf[n_ & m] = std::fabs(w) < 1e-25f ? 0.f : w;
      in = delayed - kDiffuserGain * w;
    }
    float o[kLines], lp[kLines], ap[kLines], y[kLines];
    for (int i = 0; i < kLines; ++i) o[i] = lines_[((n_ - length_[i]) & mask_) * kLines + i];
    lp1_.run(o, lp);
    lp2_.run(lp, lp);
    if (use_allpass_) {
      ap_.run(o, ap);
      for (int i = 0; i < kLines; ++i) y[i] = g_high_[i] * ap[i] + g_span_[i] * lp[i];
    } else {
      for (int i = 0; i < kLines; ++i) y[i] = g_span_[i] * lp[i];
    }
    for (int i = 0; i < kLines; ++i) y[i] = std::fabs(y[i]) < 1e-25f ? 0.f : y[i];
    float l = 0, r = 0;
    for (int i = 0; i < kLines; ++i) {
      l += kLeft[i] * y[i];
      r += kRight[i] * y[i];
    }
    wl = l * out_gain_;
    wr = r * out_gain_;
    hadamard8(y);
    float* w = &lines_[(n_ & mask_) * kLines];
    in *= in_scale_;
    for (int i = 0; i < kLines; ++i) w[i] = in * kInSign[i] + y[i];
    ++n_;
  }

  void compute() {
    const auto& s = active_;
    const double t60 = s.fReverbTime / 1000.0;
    const double fs = rate_;
    double gmean = 0;
    use_allpass_ = false;
    for (int i = 0; i < kLines; ++i) {
      double m = static_cast<double>(length_[i]);
      double g = std::pow(10.0, -3 * m / (fs * t60));
      double g_high = std::pow(10.0, -3 * m / (fs * t60 * s.fHighFreqRTRatio));
      if (g_high < 1e-7) g_high = 0;  // gone within a pass: skip the allpass path
      g_high_[i] = static_cast<float>(g_high);
      g_span_[i] = static_cast<float>(g - g_high);
      use_allpass_ |= g_high > 0;
      gmean += g / kLines;
    }
    // Fourth-order Linkwitz-Riley crossover: two Butterworth lowpasses in
    // series, and the second-order allpass with the same poles (LP + HP).
    const double fc = std::min(kCrossoverHz, 0.2 * fs);
    const double w0 = 2 * M_PI * fc / fs, alpha = std::sin(w0) / (2 * M_SQRT1_2), c = std::cos(w0);
    const double a0 = 1 + alpha;
    const float a1 = static_cast<float>(-2 * c / a0), a2 = static_cast<float>((1 - alpha) / a0);
    for (Biquad8* b : {&lp1_, &lp2_}) {
      b->b0 = b->b2 = static_cast<float>((1 - c) / 2 / a0);
      b->b1 = static_cast<float>((1 - c) / a0);
      b->a1 = a1;
      b->a2 = a2;
    }
    ap_.b0 = a2;
    ap_.b1 = a1;
    ap_.b2 = 1;
    ap_.a1 = a1;
    ap_.a2 = a2;
    // About unity energy for the wet path: each pass keeps g^2 of it.
    in_scale_ = static_cast<float>(1 / std::sqrt(double(kLines)));
    const double share = std::pow(10.0, s.fReverbMix / 10.0);
    const double gain = std::pow(10.0, s.fInGain / 20.0);
    const double norm = std::sqrt(2 * std::max(1e-6, 1 - gmean * gmean));
    dry_ = static_cast<float>(std::sqrt(std::max(0.0, 1 - share)) * gain);
    out_gain_ = static_cast<float>(std::sqrt(share) * norm);
    in_gain_ = static_cast<float>(gain);
  }

  // control thread (prepare)
  int rate_ = 44100;
  int channels_ = 2;
  size_t length_[kLines] = {};
  size_t mask_ = 0;
  size_t diff_len_[kDiffusers] = {}, diff_mask_[kDiffusers] = {};
  // audio thread
  BASS_DX8_REVERB active_{0, 0, 1000, 0.001f};
  std::vector<float> lines_;  // frame-major: kLines values per frame
  std::vector<float> diff_[kDiffusers];
  size_t n_ = 0;
  Biquad8 lp1_, lp2_, ap_;
  bool use_allpass_ = false;
  float g_high_[kLines] = {}, g_span_[kLines] = {};
  float in_scale_ = 0.35f, out_gain_ = 0.1f, dry_ = 0, in_gain_ = 1;
};

}  // namespace

std::unique_ptr<Effect> make_reverb() { return std::make_unique<Reverb>(); }

}  // namespace tovarin::audio::dsp
