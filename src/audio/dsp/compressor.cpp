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

// Eight-wide values (here and in the helpers of simd.hpp) only pass between
// functions that are inlined, so the note that their calling convention
// differs with AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"
#include "audio/dsp/fast_math.hpp"
#include "audio/dsp/simd.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr float kMaxPredelayMs = 4.f;
constexpr double kFloorDb = -200;
constexpr float kSilence = 1e-5f;  // -100 dB: below any 16-bit signal
constexpr float kSilentMark = -1e30f;
constexpr size_t kPiece = 256;              // frames per pass of the stages below
constexpr float kDbPerLog2 = 6.02059991f;   // 20 log10(2)
constexpr float kLog2PerDb = 0.166096405f;  // log2(10) / 20

// Eight frames at a time where AVX is taken.
typedef float F8 __attribute__((vector_size(32)));

// The detector's level, the same in both lanes: comparisons and selects
// on vectors are masks, never branches.
typedef double D2 __attribute__((vector_size(16)));

inline D2 both(double v) { return D2{v, v}; }

// v, as a value the compiler cannot see into: a product it feeds is then
// the one fused into a sum where FMA fuses, not the product behind v.
inline D2 opaque(D2 v) {
#if defined(__SSE2__)
  asm("" : "+x"(v));
#endif
  return v;
}

// min(0, v) as a float, without a branch.

inline float below_zero(double v) {
#if defined(__SSE2__)
  return _mm_cvtss_f32(_mm_cvtsd_ss(_mm_setzero_ps(), _mm_min_sd(_mm_set_sd(v), _mm_setzero_pd())));
#else
  return static_cast<float>(std::min(0.0, v));
#endif
}

class Compressor final : public RecordEffect<BASS_DX8_COMPRESSOR> {
 public:
  Compressor() : RecordEffect({0, 10, 200, -20, 3, 4}) {}

  void prepare(int rate, int channels) override {
    set_format(rate, channels);
    len_ = delay_line_frames(kMaxPredelayMs, rate, 2);
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

  // In pieces, each in three passes: the level in dB of every frame (no
  // dependency between frames, so it vectorises), the detector and the
  // static curve (the only serial part, a few operations per frame), then
  // the gains and the delayed sound.
  void process(float* x, size_t frames) override {
    if (box_.take(active_)) compute();
    if (delay_line_.empty()) return;
    in_pieces(frames, kPiece, [&](size_t done, size_t n) { run(x + done * channels_, n); });
  }

 private:
  TOVARIN_BOTH_BUILDS(run, run_piece)

  template <bool kWide>
  [[gnu::always_inline]] inline void run_piece(float* x, size_t n) {
    using V = std::conditional_t<kWide, F8, F4>;  // frames at a time
    constexpr size_t kStep = sizeof(V) / sizeof(float);
    const int ch = channels_;
    const float inv_ch = 1.f / ch;
    size_t i = 0;
    if (ch == 2) {
      // (|L| + |R|) / 2, then dB.
      for (; i + kStep <= n; i += kStep) {
        V a, b, level;
        std::memcpy(&a, x + 2 * i, sizeof a);
        std::memcpy(&b, x + 2 * i + kStep, sizeof b);
        a = reinterpret_cast<V>(reinterpret_cast<decltype(a < a)>(a) & 0x7fffffff);
        b = reinterpret_cast<V>(reinterpret_cast<decltype(b < b)>(b) & 0x7fffffff);
        if constexpr (kWide)
          level = __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14) +
                  __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15);
        else
          level = left4(a, b) + right4(a, b);
        level *= 0.5f;
        const auto loud = level > kSilence;
        const V db = loud ? kDbPerLog2 * log2v(loud ? level : V{} + 1.f) : V{} + kSilentMark;
        std::memcpy(db_ + i, &db, sizeof db);
      }
    }
    for (; i < n; ++i) {
      float level = 0;
      for (int c = 0; c < ch; ++c) level += std::fabs(x[i * ch + c]);
      level *= inv_ch;
      db_[i] = level > kSilence ? kDbPerLog2 * fast_log2(level) : kSilentMark;
    }
    const double T = active_.fThreshold, slope = 1 - 1 / static_cast<double>(active_.fRatio);
    const float makeup = active_.fGain;
    D2 env = both(env_db_);
    const D2 attack = both(attack_), release = both(release_);
    const D2 rest_attack = 1 - attack, rest_release = 1 - release;
    for (i = 0; i < n; ++i) {
      const double in_db = db_[i];
      if (in_db > kSilentMark) {
        // Both candidates come from env at once and one is kept: the serial
        // path is a product, a sum and a select (one fused step and a select
        // where FMA is taken). Rising or falling follows the music at
        // random, so neither the choice nor the curve's knee below may
        // become a branch.
        const D2 level = both(in_db);
        const D2 rise = opaque(rest_attack * level), fall = opaque(rest_release * level);
        env = level > env ? attack * env + rise : release * env + fall;
      } else if (env[0] > T) {
        env = both(std::max(T, release[0] * env[0] + rest_release[0] * kFloorDb));
      }
      db_[i] = below_zero((T - env[0]) * slope) + makeup;
    }
    env_db_ = env[0];
    i = 0;
    for (; i + kStep <= n; i += kStep) {
      V v;
      std::memcpy(&v, db_ + i, sizeof v);
      v = exp2v(v * kLog2PerDb);
      std::memcpy(db_ + i, &v, sizeof v);
    }
    for (; i < n; ++i) db_[i] = fast_exp2(db_[i] * kLog2PerDb);
    // The sound is delayed against the detector, so attacks are caught.
    const size_t mask = len_ - 1;
    float* const line = delay_line_.data();
    size_t pos = pos_;
    if (ch == 2) {
      // In runs where neither position wraps around; four frames are
      // written before they are read, so any delay (0 too) reads the
      // right ones.
      for (size_t i = 0; i < n;) {
        const size_t w = pos & mask, r = (pos - delay_) & mask;
        const size_t run = std::min({n - i, len_ - w, len_ - r});
        float *f = x + 2 * i, *to = line + 2 * w;
        const float *from = line + 2 * r, *gain = db_ + i;
        size_t j = 0;
        for (; j + 4 <= run; j += 4) {
          store4(to + 2 * j, load4(f + 2 * j));
          store4(to + 2 * j + 4, load4(f + 2 * j + 4));
          const F4 g = load4(gain + j);
          store4(f + 2 * j, load4(from + 2 * j) * __builtin_shufflevector(g, g, 0, 0, 1, 1));
          store4(f + 2 * j + 4, load4(from + 2 * j + 4) * __builtin_shufflevector(g, g, 2, 2, 3, 3));
        }
        for (; j < run; ++j) {
          to[2 * j] = f[2 * j];
          to[2 * j + 1] = f[2 * j + 1];
          f[2 * j] = from[2 * j] * gain[j];
          f[2 * j + 1] = from[2 * j + 1] * gain[j];
        }
        i += run;
        pos = (pos + run) & mask;
      }
    } else {
      for (size_t i = 0; i < n; ++i) {
        const size_t read = (pos - delay_) & mask;
        for (int c = 0; c < ch; ++c) {
          line[pos * ch + c] = x[i * ch + c];
          x[i * ch + c] = line[read * ch + c] * db_[i];
        }
        pos = (pos + 1) & mask;
      }
    }
    pos_ = pos;
  }

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
  size_t len_ = 2;
  // audio thread
  std::vector<float> delay_line_;
  size_t pos_ = 0, delay_ = 0;
  double env_db_ = -20, attack_ = 0, release_ = 0;
  float db_[kPiece];  // levels in dB, then gains, of the piece at hand
};

}  // namespace

std::unique_ptr<Effect> make_compressor() { return std::make_unique<Compressor>(); }

}  // namespace tovarin::audio::dsp
