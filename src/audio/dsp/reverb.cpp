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
// ratio and reaches the high value above about 4 kHz. Left and right are two
// rows of the mixing (orthogonal sign patterns over the filtered lines), so
// they are decorrelated; a mono stream hears their mean.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"
#include "audio/dsp/simd.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr int kMaxChannels = 8;
constexpr int kLines = 8;
constexpr double kShortestMs = 34.0;
constexpr int kDiffusers = 4;
constexpr double kDiffuserMs[kDiffusers] = {1.3, 1.9, 2.9, 4.1};
constexpr float kDiffuserGain = 0.62f;
constexpr double kCrossoverHz = 2000.0;
constexpr size_t kPiece = 256;  // frames diffused ahead of the network

// Signs feeding the input into the lines (0..3, then 4..7): not a row of the
// mixing matrix, so the first pass already spreads over every line.
constexpr F4 kInSign4[2] = {{1, 1, -1, 1}, {-1, -1, 1, -1}};

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

// The orthogonal mixing: the fast Walsh-Hadamard transform of the eight
// values (lo: lines 0..3, hi: 4..7), scaled by 1/sqrt(8) so it keeps energy.
inline void hadamard8(F4& lo, F4& hi) {
  const F4 a = lo + hi, b = lo - hi;
  lo = a;
  hi = b;
  const F4 odd = {1, -1, 1, -1}, half = {1, 1, -1, -1};
  // Constant-index shuffles: the form GCC and clang both take.
  lo = lo * odd + __builtin_shufflevector(lo, lo, 1, 0, 3, 2);
  hi = hi * odd + __builtin_shufflevector(hi, hi, 1, 0, 3, 2);
  lo = lo * half + __builtin_shufflevector(lo, lo, 2, 3, 0, 1);
  hi = hi * half + __builtin_shufflevector(hi, hi, 2, 3, 0, 1);
  const F4 scale = splat(0.35355339059327373f);
  lo *= scale;
  hi *= scale;
}

// Transposed direct form II biquad over four lines at once.
struct Biquad4 {
  F4 s1 = {}, s2 = {};
  inline F4 run(F4 in, F4 b0, F4 b1, F4 b2, F4 a1, F4 a2) {
    const F4 out = b0 * in + s1;
    s1 = b1 * in - a1 * out + s2;
    s2 = b2 * in - a2 * out;
    return out;
  }
  void clear() { s1 = s2 = F4{}; }
  void flush() {
    s1 = flush4(s1);
    s2 = flush4(s2);
  }
};

struct Coefficients {
  F4 b0 = splat(1), b1 = {}, b2 = {}, a1 = {}, a2 = {};
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
    for (auto* b : {&lp1_[0], &lp1_[1], &lp2_[0], &lp2_[1], &ap_[0], &ap_[1]}) b->clear();
    n_ = 0;
  }

  void process(float* x, size_t frames) override {
    if (box_.take(active_)) compute();
    if (lines_.empty()) return;
    // Everything the loop touches lives in locals: the buffers' float
    // stores could otherwise alias the members, which would then be
    // reloaded for every sample.
    const int ch = channels_;
    const float in_gain = in_gain_ / ch, dry = dry_, out_gain = out_gain_, in_scale = in_scale_;
    float* const lines = lines_.data();
    const size_t mask = mask_;
    size_t length[kLines];
    std::copy(std::begin(length_), std::end(length_), length);
    float* diff[kDiffusers];
    size_t diff_len[kDiffusers], diff_mask[kDiffusers];
    for (int k = 0; k < kDiffusers; ++k) {
      diff[k] = diff_[k].data();
      diff_len[k] = diff_len_[k];
      diff_mask[k] = diff_mask_[k];
    }
    const Coefficients lp = lp_, ap = ap_c_;
    const F4 g_span[2] = {g_span_[0], g_span_[1]}, g_high[2] = {g_high_[0], g_high_[1]};
    const bool use_allpass = use_allpass_;
    Biquad4 lp1a = lp1_[0], lp1b = lp1_[1], lp2a = lp2_[0], lp2b = lp2_[1], apa = ap_[0], apb = ap_[1];
    size_t n = n_;
    for (size_t t = 0, piece_end = 0; t < frames; ++t, ++n) {
      if (t == piece_end) {
        // The piece's input, diffused: each allpass runs over the whole
        // piece in turn, so its work overlaps from sample to sample instead
        // of the four waiting on each other for every sample.
        piece_end = std::min(frames, t + kPiece);
        const size_t len = piece_end - t;
        for (size_t i = 0; i < len; ++i) {
          const float* f = x + (t + i) * ch;
          float in = 0;
          for (int c = 0; c < ch; ++c) in += f[c];
          in_[i] = in * in_gain;
        }
        for (int k = 0; k < kDiffusers; ++k) {
          float* buf = diff[k];
          const size_t m = diff_mask[k], d = diff_len[k];
          for (size_t i = 0; i < len; ++i) {
            const size_t at = n + i;
            const float delayed = buf[(at - d) & m];
            const float w = in_[i] + kDiffuserGain * delayed;
            buf[at & m] = std::fabs(w) < 1e-25f ? 0.f : w;
            in_[i] = delayed - kDiffuserGain * w;
          }
        }
      }
      float* f = x + t * ch;
      const float in = in_[t % kPiece];
      // The lines' outputs through the loop filter (lines 0..3 and 4..7,
      // written out twice so their memories stay in registers).
      const F4 v0 = {lines[((n - length[0]) & mask) * kLines + 0], lines[((n - length[1]) & mask) * kLines + 1],
                     lines[((n - length[2]) & mask) * kLines + 2], lines[((n - length[3]) & mask) * kLines + 3]};
      const F4 v1 = {lines[((n - length[4]) & mask) * kLines + 4], lines[((n - length[5]) & mask) * kLines + 5],
                     lines[((n - length[6]) & mask) * kLines + 6], lines[((n - length[7]) & mask) * kLines + 7]};
      F4 y[2];
      y[0] = g_span[0] * lp2a.run(lp1a.run(v0, lp.b0, lp.b1, lp.b2, lp.a1, lp.a2), lp.b0, lp.b1, lp.b2, lp.a1, lp.a2);
      y[1] = g_span[1] * lp2b.run(lp1b.run(v1, lp.b0, lp.b1, lp.b2, lp.a1, lp.a2), lp.b0, lp.b1, lp.b2, lp.a1, lp.a2);
      if (use_allpass) {
        y[0] += g_high[0] * apa.run(v0, ap.b0, ap.b1, ap.b2, ap.a1, ap.a2);
        y[1] += g_high[1] * apb.run(v1, ap.b0, ap.b1, ap.b2, ap.a1, ap.a2);
      }
      y[0] = flush4(y[0]);
      y[1] = flush4(y[1]);
      // Mixed back into the lines with the new input; two of the mixed
      // values (orthogonal sign patterns over the lines) are left and right.
      hadamard8(y[0], y[1]);
      const float wl = y[0][1] * out_gain, wr = y[0][2] * out_gain;
      float* w = lines + (n & mask) * kLines;
      const F4 feed = splat(in * in_scale);
      store4(w, feed * kInSign4[0] + y[0]);
      store4(w + 4, feed * kInSign4[1] + y[1]);
      if (ch == 2) {
        f[0] = dry * f[0] + wl;
        f[1] = dry * f[1] + wr;
      } else if (ch == 1) {
        f[0] = dry * f[0] + 0.5f * (wl + wr);
      } else {
        for (int c = 0; c < ch; ++c) f[c] = dry * f[c] + (c % 2 ? wr : wl);
      }
    }
    n_ = n;
    lp1_[0] = lp1a;
    lp1_[1] = lp1b;
    lp2_[0] = lp2a;
    lp2_[1] = lp2b;
    ap_[0] = apa;
    ap_[1] = apb;
    for (int h = 0; h < 2; ++h) {
      lp1_[h].flush();
      lp2_[h].flush();
      ap_[h].flush();
    }
  }

 private:
  void compute() {
    const auto& s = active_;
    const double t60 = s.fReverbTime / 1000.0;
    const double fs = rate_;
    double gmean = 0;
    use_allpass_ = false;
    float g_high[kLines], g_span[kLines];
    for (int i = 0; i < kLines; ++i) {
      double m = static_cast<double>(length_[i]);
      double g = std::pow(10.0, -3 * m / (fs * t60));
      double gh = std::pow(10.0, -3 * m / (fs * t60 * s.fHighFreqRTRatio));
      if (gh < 1e-7) gh = 0;  // gone within a pass: skip the allpass path
      g_high[i] = static_cast<float>(gh);
      g_span[i] = static_cast<float>(g - gh);
      use_allpass_ |= gh > 0;
      gmean += g / kLines;
    }
    // Fourth-order Linkwitz-Riley crossover: two Butterworth lowpasses in
    // series, and the second-order allpass with the same poles (LP + HP).
    const double fc = std::min(kCrossoverHz, 0.2 * fs);
    const double w0 = 2 * M_PI * fc / fs, alpha = std::sin(w0) / (2 * M_SQRT1_2), c = std::cos(w0);
    const double a0 = 1 + alpha;
    const float a1 = static_cast<float>(-2 * c / a0), a2 = static_cast<float>((1 - alpha) / a0);
    const float lb0 = static_cast<float>((1 - c) / 2 / a0), lb1 = static_cast<float>((1 - c) / a0);
    lp_ = {splat(lb0), splat(lb1), splat(lb0), splat(a1), splat(a2)};
    ap_c_ = {splat(a2), splat(a1), splat(1), splat(a1), splat(a2)};
    for (int h = 0; h < 2; ++h) {
      g_high_[h] = load4(g_high + 4 * h);
      g_span_[h] = load4(g_span + 4 * h);
    }
    // About unity energy for the wet path: each pass keeps g^2 of it.
    in_scale_ = static_cast<float>(1 / std::sqrt(double(kLines)));
    const double share = std::pow(10.0, s.fReverbMix / 10.0);
    const double gain = std::pow(10.0, s.fInGain / 20.0);
    // (The outputs are taken after the mixing, which scales by 1/sqrt(8).)
    const double norm = std::sqrt(2 * std::max(1e-6, 1 - gmean * gmean)) * std::sqrt(double(kLines));
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
  float in_[kPiece];  // the diffused input of the piece at hand
  Biquad4 lp1_[2], lp2_[2], ap_[2];
  Coefficients lp_, ap_c_;
  bool use_allpass_ = false;
  F4 g_high_[2] = {}, g_span_[2] = {};
  float in_scale_ = 0.35f, out_gain_ = 0.1f, dry_ = 0, in_gain_ = 1;
};

}  // namespace

std::unique_ptr<Effect> make_reverb() { return std::make_unique<Reverb>(); }

}  // namespace tovarin::audio::dsp
