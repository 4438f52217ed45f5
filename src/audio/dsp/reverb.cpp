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
#include <type_traits>
#include <utility>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"
#include "audio/dsp/simd.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr int kLines = 8;
constexpr double kShortestMs = 34.0;
constexpr int kDiffusers = 4;
constexpr double kDiffuserMs[kDiffusers] = {1.3, 1.9, 2.9, 4.1};
constexpr float kDiffuserGain = 0.62f;
constexpr double kCrossoverHz = 2000.0;
constexpr size_t kPiece = 256;                     // frames per piece (at most; see piece_)
constexpr double kMixScale = 0.35355339059327373;  // 1/sqrt(8)

// Signs feeding the input into the lines (0..3, then 4..7): not a row of the
// mixing matrix, so the first pass already spreads over every line.
constexpr F4 kInSign4[2] = {{1, 1, -1, 1}, {-1, -1, 1, -1}};

bool is_prime(size_t n) {
  if (n < 2) return false;
  for (size_t d = 2; d * d <= n; ++d)
    if (n % d == 0) return false;
  return true;
}

// The orthogonal mixing: the fast Walsh-Hadamard transform of the eight
// values (lo: lines 0..3, hi: 4..7). Unscaled: the loop gains carry the
// 1/sqrt(8) that makes it keep energy.
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
}

// hadamard8 on eight rows at once (r0..r7: lines 0..7, four frames each),
// with the same sums and differences.
inline void hadamard_rows(F4& r0, F4& r1, F4& r2, F4& r3, F4& r4, F4& r5, F4& r6, F4& r7) {
  const F4 s0 = r0 + r4, s1 = r1 + r5, s2 = r2 + r6, s3 = r3 + r7;
  const F4 d0 = r0 - r4, d1 = r1 - r5, d2 = r2 - r6, d3 = r3 - r7;
  const F4 p0 = s0 + s1, p1 = s0 - s1, p2 = s2 + s3, p3 = s2 - s3;
  const F4 q0 = d0 + d1, q1 = d0 - d1, q2 = d2 + d3, q3 = d2 - d3;
  r0 = p0 + p2, r1 = p1 + p3, r2 = p0 - p2, r3 = p1 - p3;
  r4 = q0 + q2, r5 = q1 + q3, r6 = q0 - q2, r7 = q1 - q3;
}

// Rows become columns: a[k] holds what was lane k of a, b, c and d.
inline void transpose4(F4& a, F4& b, F4& c, F4& d) {
  const F4 t0 = __builtin_shufflevector(a, b, 0, 4, 1, 5), t1 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
  const F4 t2 = __builtin_shufflevector(c, d, 0, 4, 1, 5), t3 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
  a = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  b = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  c = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  d = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// The eight lines' loop filters: where AVX is taken, on one vector of eight
// (F8); in the baseline build, on two of four. Eight-wide values only pass
// between functions that are inlined, so the note that their calling
// convention differs with AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
typedef float F8 __attribute__((vector_size(32)));

inline F8 splat8(float x) { return F8{x, x, x, x, x, x, x, x}; }

// Tiny values (or not numbers) become 0.
template <class V>
[[gnu::always_inline]] inline V flush_tiny(V v) {
  using I = decltype(v < v);
  const V a = reinterpret_cast<V>(reinterpret_cast<I>(v) & 0x7fffffff);
  return reinterpret_cast<V>(reinterpret_cast<I>(v) & (a >= 1e-25f));
}

// Part k of the eight lines' values, as V.
template <class V>
[[gnu::always_inline]] inline V part(const F8& v, int k) {
  V r;
  std::memcpy(&r, reinterpret_cast<const char*>(&v) + k * sizeof(V), sizeof(V));
  return r;
}
template <class V>
[[gnu::always_inline]] inline void set_part(F8& v, int k, const V& r) {
  std::memcpy(reinterpret_cast<char*>(&v) + k * sizeof(V), &r, sizeof(V));
}

// Transposed direct form II biquad over the lines of V at once.
template <class V>
struct BiquadV {
  V s1 = {}, s2 = {};
  [[gnu::always_inline]] inline V run(const V& in, const V& b0, const V& b1, const V& b2, const V& a1, const V& a2) {
    const V out = b0 * in + s1;
    s1 = b1 * in - a1 * out + s2;
    s2 = b2 * in - a2 * out;
    return out;
  }
  // The same for the Butterworth lowpass, whose b1 = 2 b0 = 2 b2: one
  // product of the input instead of three (exactly the same sums).
  [[gnu::always_inline]] inline V run_lowpass(const V& in, const V& b0, const V& a1, const V& a2) {
    const V p = b0 * in;
    const V out = p + s1;
    s1 = (p + p) - a1 * out + s2;
    s2 = p - a2 * out;
    return out;
  }
  void clear() { s1 = s2 = V{}; }
  void flush() {
    s1 = flush_tiny(s1);
    s2 = flush_tiny(s2);
  }
};
using Biquad8 = BiquadV<F8>;

struct Coefficients {
  F8 b0 = splat8(1), b1 = {}, b2 = {}, a1 = {}, a2 = {};
};

class Reverb final : public RecordEffect<BASS_DX8_REVERB> {
 public:
  Reverb() : RecordEffect({0, 0, 1000, 0.001f}) {}

  void prepare(int rate, int channels) override {
    set_format(rate > 0 ? rate : 44100, channels);
    size_t longest = 0;
    for (int i = 0; i < kLines; ++i) {
      size_t m = static_cast<size_t>(std::lround(kShortestMs * std::pow(2.0, i / 8.0) * rate_ / 1000.0));
      m = std::max<size_t>(m, 3);
      while (!is_prime(m)) ++m;  // prime lengths keep the modes apart
      length_[i] = m;
      longest = std::max(longest, m);
    }
    // A piece never outruns the shortest line, so everything it reads was
    // written before it started.
    piece_ = std::min(kPiece, length_[0]);
    mask_ = pow2_at_least(longest + 1) - 1;
    lines_.assign((mask_ + 1) * kLines, 0.f);
    for (int k = 0; k < kDiffusers; ++k) {
      diff_len_[k] = std::max<size_t>(1, static_cast<size_t>(std::lround(kDiffuserMs[k] * rate_ / 1000.0)));
      diff_[k].assign(diff_len_[k] + kPiece, 0.f);
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
    for (auto* b : {&lp1_, &lp2_, &ap_}) b->clear();
    n_ = 0;
  }

  void process(float* x, size_t frames) override {
    if (box_.take(active_)) compute();
    if (lines_.empty()) return;
    in_pieces(frames, piece_, [&](size_t done, size_t len) { piece(x + done * channels_, len); });
    for (auto* b : {&lp1_, &lp2_, &ap_}) b->flush();
  }

 private:
  // One piece in stages, all but the network's recursion free of
  // dependencies between frames: the input's mean, the diffusers, the
  // lines' outputs gathered line by line, the recursion (four frames at a
  // time, turned frame-major and back by 4 x 4 transposes), the new line
  // values written back, the wet sound mixed into the block.
  TOVARIN_BOTH_BUILDS(piece, run_piece)

  template <bool kWide>
  [[gnu::always_inline]] inline void run_piece(float* x, size_t len) {
    if (use_allpass_)
      run<kWide, true>(x, len);
    else
      run<kWide, false>(x, len);
  }

  template <bool kWide, bool kAllpass>
  [[gnu::always_inline]] inline void run(float* x, size_t len) {
    const int ch = channels_;
    const size_t size = mask_ + 1;
    float* const in = in_;
    sum_channels(x, len, ch, in_gain_ / ch * in_scale_, in);
    for (int k = 0; k < kDiffusers; ++k) diffuse(diff_[k].data(), diff_len_[k], len);

    // The lines' outputs and new values, in place in the lines where their
    // runs do not wrap around, through scratch where they do.
    float* const lines = lines_.data();
    const float* src[kLines];
    float* dst[kLines];
    const size_t to = n_ & mask_;
    for (int i = 0; i < kLines; ++i) {
      float* const line = lines + i * size;
      const size_t from = (n_ - length_[i]) & mask_;
      if (from + len <= size) {
        src[i] = line + from;
      } else {
        const size_t first = size - from;
        std::memcpy(rd_ + i * kPiece, line + from, first * sizeof(float));
        std::memcpy(rd_ + i * kPiece + first, line, (len - first) * sizeof(float));
        src[i] = rd_ + i * kPiece;
      }
      dst[i] = to + len <= size ? line + to : wr_ + i * kPiece;
    }
    recirculate<kWide, kAllpass>(src, dst, len);
    if (to + len > size) {
      const size_t first = size - to;
      for (int i = 0; i < kLines; ++i) {
        std::memcpy(lines + i * size + to, wr_ + i * kPiece, first * sizeof(float));
        std::memcpy(lines + i * size, wr_ + i * kPiece + first, (len - first) * sizeof(float));
      }
    }
    n_ += len;

    const float dry = dry_, out_gain = out_gain_;
    if (ch == 2) {
      mix_stereo(x, len, out_l_, out_r_, dry, out_gain);
      return;
    }
    for (size_t t = 0; t < len; ++t) {
      float* f = x + t * ch;
      const float wl = out_l_[t] * out_gain, wr = out_r_[t] * out_gain;
      if (ch == 1) {
        f[0] = dry * f[0] + 0.5f * (wl + wr);
      } else {
        for (int c = 0; c < ch; ++c) f[c] = dry * f[c] + (c % 2 ? wr : wl);
      }
    }
  }

  // A Schroeder allpass with delay d over the piece's input, in place. The
  // buffer holds the last d values written, then room for the piece: a
  // value is read d frames after it was written, so four frames at a time
  // never read one of their own.
  [[gnu::always_inline]] inline void diffuse(float* buf, size_t d, size_t len) {
    float* const in = in_;
    size_t i = 0;
    if (d >= 4) {
      for (; i + 4 <= len; i += 4) {
        const F4 delayed = load4(buf + i);
        const F4 w = load4(in + i) + kDiffuserGain * delayed;
        store4(buf + d + i, flush4(w));
        store4(in + i, delayed - kDiffuserGain * w);
      }
    }
    for (; i < len; ++i) {
      const float delayed = buf[i];
      const float w = in[i] + kDiffuserGain * delayed;
      buf[d + i] = std::fabs(w) < 1e-25f ? 0.f : w;
      in[i] = delayed - kDiffuserGain * w;
    }
    std::memmove(buf, buf + len, d * sizeof(float));
  }

  // The network's recursion over the piece: the lines' outputs (src, one
  // run per line) through the loop filters, mixed, plus the input, become
  // the lines' new values (dst); two of the mixed values are the wet left
  // and right. A line's new values never overwrite an output still to be
  // read: the line is longer than the piece.
  template <bool kWide, bool kAllpass>
  [[gnu::always_inline]] inline void recirculate(const float* const* src, float* const* dst, size_t len) {
    using V = std::conditional_t<kWide, F8, F4>;
    constexpr int K = sizeof(F8) / sizeof(V);
    // Locals, so that the stores cannot be taken to alias the state.
    const V b0 = part<V>(lp_.b0, 0), a1 = part<V>(lp_.a1, 0), a2 = part<V>(lp_.a2, 0);
    const V ab0 = part<V>(ap_c_.b0, 0), ab1 = part<V>(ap_c_.b1, 0), ab2 = part<V>(ap_c_.b2, 0);
    const V aa1 = part<V>(ap_c_.a1, 0), aa2 = part<V>(ap_c_.a2, 0);
    V g_span[K], g_high[K];
    BiquadV<V> lp1[K], lp2[K], apf[K];
    // Unrolled, the arrays become registers.
#pragma GCC unroll 2
    for (int k = 0; k < K; ++k) {
      g_span[k] = part<V>(g_span_, k);
      g_high[k] = part<V>(g_high_, k);
      for (auto [to, from] : {std::pair{&lp1[k], &lp1_}, std::pair{&lp2[k], &lp2_}, std::pair{&apf[k], &ap_}}) {
        to->s1 = part<V>(from->s1, k);
        to->s2 = part<V>(from->s2, k);
      }
    }
    auto step = [&](F4 & lo, F4 & hi) __attribute__((always_inline)) {
      V v[K];
      if constexpr (kWide)
        v[0] = __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7);
      else
        v[0] = lo, v[1] = hi;
#pragma GCC unroll 2
      for (int k = 0; k < K; ++k) {
        V y = g_span[k] * lp2[k].run_lowpass(lp1[k].run_lowpass(v[k], b0, a1, a2), b0, a1, a2);
        if (kAllpass) y += g_high[k] * apf[k].run(v[k], ab0, ab1, ab2, aa1, aa2);
        v[k] = flush_tiny(y);
      }
      if constexpr (kWide) {
        lo = __builtin_shufflevector(v[0], v[0], 0, 1, 2, 3);
        hi = __builtin_shufflevector(v[0], v[0], 4, 5, 6, 7);
      } else {
        lo = v[0], hi = v[1];
      }
    };
    const float* in = in_;
    size_t t = 0;
    for (; t + 4 <= len; t += 4) {
      // a: lines 0..3, b: lines 4..7; after the transposes, one frame each.
      F4 a0 = load4(src[0] + t), a1 = load4(src[1] + t), a2 = load4(src[2] + t), a3 = load4(src[3] + t);
      F4 b0 = load4(src[4] + t), b1 = load4(src[5] + t), b2 = load4(src[6] + t), b3 = load4(src[7] + t);
      transpose4(a0, a1, a2, a3);
      transpose4(b0, b1, b2, b3);
      step(a0, b0);
      step(a1, b1);
      step(a2, b2);
      step(a3, b3);
      // Back to one line each, four frames, and mixed: the mixing is not on
      // the path from frame to frame (its results are read a line's length
      // later), so it runs on whole lines, as hadamard8 does on one frame.
      transpose4(a0, a1, a2, a3);
      transpose4(b0, b1, b2, b3);
      hadamard_rows(a0, a1, a2, a3, b0, b1, b2, b3);
      store4(out_l_ + t, a1);
      store4(out_r_ + t, a2);
      const F4 feed = load4(in + t);
      store4(dst[0] + t, a0 + feed);
      store4(dst[1] + t, a1 + feed);
      store4(dst[2] + t, a2 - feed);
      store4(dst[3] + t, a3 + feed);
      store4(dst[4] + t, b0 - feed);
      store4(dst[5] + t, b1 - feed);
      store4(dst[6] + t, b2 + feed);
      store4(dst[7] + t, b3 - feed);
    }
    for (; t < len; ++t) {
      F4 lo = {src[0][t], src[1][t], src[2][t], src[3][t]};
      F4 hi = {src[4][t], src[5][t], src[6][t], src[7][t]};
      step(lo, hi);
      hadamard8(lo, hi);
      out_l_[t] = lo[1];
      out_r_[t] = lo[2];
      const F4 feed = splat(in[t]);
      lo += feed * kInSign4[0];
      hi += feed * kInSign4[1];
      for (int i = 0; i < 4; ++i) {
        dst[i][t] = lo[i];
        dst[i + 4][t] = hi[i];
      }
    }
#pragma GCC unroll 2
    for (int k = 0; k < K; ++k) {
      for (auto [from, to] : {std::pair{&lp1[k], &lp1_}, std::pair{&lp2[k], &lp2_}, std::pair{&apf[k], &ap_}}) {
        set_part(to->s1, k, from->s1);
        set_part(to->s2, k, from->s2);
      }
    }
  }

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
      // The mixing's 1/sqrt(8) is taken here, before it.
      g_high[i] = static_cast<float>(gh * kMixScale);
      g_span[i] = static_cast<float>((g - gh) * kMixScale);
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
    lp_ = {splat8(lb0), splat8(lb1), splat8(lb0), splat8(a1), splat8(a2)};
    ap_c_ = {splat8(a2), splat8(a1), splat8(1), splat8(a1), splat8(a2)};
    std::memcpy(&g_high_, g_high, sizeof g_high_);
    std::memcpy(&g_span_, g_span, sizeof g_span_);
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
  size_t length_[kLines] = {};
  size_t mask_ = 0;
  size_t piece_ = kPiece;
  size_t diff_len_[kDiffusers] = {};
  // audio thread
  std::vector<float> lines_;  // line by line, each mask_ + 1 long
  std::vector<float> diff_[kDiffusers];
  size_t n_ = 0;
  Biquad8 lp1_, lp2_, ap_;
  Coefficients lp_, ap_c_;
  bool use_allpass_ = false;
  F8 g_high_ = {}, g_span_ = {};
  float in_scale_ = 0.35f, out_gain_ = 0.1f, dry_ = 0, in_gain_ = 1;
  // The piece at hand: the diffused input, the lines' outputs and new
  // values where a run wraps around (line by line), the wet left and right.
  alignas(16) float in_[kPiece];
  alignas(16) float rd_[kLines * kPiece];
  alignas(16) float wr_[kLines * kPiece];
  alignas(16) float out_l_[kPiece];
  alignas(16) float out_r_[kPiece];
};

}  // namespace

std::unique_ptr<Effect> make_reverb() { return std::make_unique<Reverb>(); }

}  // namespace tovarin::audio::dsp
