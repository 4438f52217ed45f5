// Echo: one feedback delay line per channel; with pan delay the channels
// read each other's lines, so repeats alternate sides.
#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"
#include "audio/dsp/simd.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr int kMaxChannels = kMaxEffectChannels;
constexpr float kMaxDelayMs = 2000.f;

class Echo final : public RecordEffect<BASS_DX8_ECHO> {
 public:
  Echo() : RecordEffect({50, 50, 500, 500, 0}) {}

  void prepare(int rate, int channels) override {
    set_format(rate, channels);
    len_ = delay_line_frames(kMaxDelayMs, rate, 2);
    line_.assign(len_ * channels_, 0.f);
    active_ = box_.get();
    compute();
    reset();
  }

  bool accept(BASS_DX8_ECHO& s) const override {
    if (!(s.fWetDryMix >= 0 && s.fWetDryMix <= 100)) return false;
    if (!(s.fFeedback >= 0 && s.fFeedback <= 100)) return false;
    if (!(s.fLeftDelay >= 1 && s.fLeftDelay <= kMaxDelayMs)) return false;
    if (!(s.fRightDelay >= 1 && s.fRightDelay <= kMaxDelayMs)) return false;
    return true;
  }

  void reset() override {
    std::fill(line_.begin(), line_.end(), 0.f);
    pos_ = 0;
  }

  void process(float* x, size_t frames) override {
    if (box_.take(active_)) compute();
    if (line_.empty()) return;
    const int ch = channels_;
    const bool pan = active_.lPanDelay != 0 && ch >= 2;
    const size_t mask = len_ - 1;
    float* const line = line_.data();
    // Channel c reads line src(c) at its delay: with pan delay, left and
    // right swap lines (and delays); further channels keep their own.
    auto src = [&](int c) { return pan && c < 2 ? 1 - c : c; };
    if (ch == 2 && delay_[0] >= 4 && delay_[1] >= 4) {
      // Four frames at a time, in runs where no position wraps around: a
      // read is at least four frames old, so never one of the run's writes.
      const size_t d0 = delay_[src(0)], d1 = delay_[src(1)];
      float* const l0 = line + src(0) * len_;
      float* const l1 = line + src(1) * len_;
      const float g = in_gain_, fb = fb_, dry = dry_, wet = wet_;
      for (size_t i = 0; i < frames;) {
        const size_t w = (pos_ + i) & mask, r0 = (pos_ + i - d0) & mask, r1 = (pos_ + i - d1) & mask;
        const size_t n = std::min({frames - i, len_ - w, len_ - r0, len_ - r1});
        float* f = x + 2 * i;
        float *o0 = line + w, *o1 = line + len_ + w;
        const float *e0 = l0 + r0, *e1 = l1 + r1;
        size_t j = 0;
        for (; j + 4 <= n; j += 4) {
          const F4 a = load4(f + 2 * j), b = load4(f + 2 * j + 4);
          const F4 in0 = left4(a, b), in1 = right4(a, b);
          const F4 echo0 = load4(e0 + j), echo1 = load4(e1 + j);
          store4(o0 + j, flush4(g * in0 + fb * echo0));
          store4(o1 + j, flush4(g * in1 + fb * echo1));
          const F4 out0 = dry * in0 + wet * echo0, out1 = dry * in1 + wet * echo1;
          store4(f + 2 * j, __builtin_shufflevector(out0, out1, 0, 4, 1, 5));
          store4(f + 2 * j + 4, __builtin_shufflevector(out0, out1, 2, 6, 3, 7));
        }
        for (; j < n; ++j) {
          const float in0 = f[2 * j], in1 = f[2 * j + 1], echo0 = e0[j], echo1 = e1[j];
          o0[j] = flush(g * in0 + fb * echo0);
          o1[j] = flush(g * in1 + fb * echo1);
          f[2 * j] = dry * in0 + wet * echo0;
          f[2 * j + 1] = dry * in1 + wet * echo1;
        }
        i += n;
      }
      pos_ = (pos_ + frames) & mask;
      return;
    }
    size_t pos = pos_;
    for (size_t i = 0; i < frames; ++i) {
      float d[kMaxChannels];
      for (int c = 0; c < ch; ++c) d[c] = line[src(c) * len_ + ((pos - delay_[src(c)]) & mask)];
      for (int c = 0; c < ch; ++c) {
        float in = x[i * ch + c];
        line[c * len_ + pos] = flush(in_gain_ * in + fb_ * d[c]);
        x[i * ch + c] = dry_ * in + wet_ * d[c];
      }
      pos = (pos + 1) & mask;
    }
    pos_ = pos;
  }

 private:
  static float flush(float v) { return std::fabs(v) < 1e-25f ? 0.f : v; }

  void compute() {
    const float w = active_.fWetDryMix / 100.f, f = active_.fFeedback / 100.f;
    wet_ = w;
    dry_ = 1 - w;
    fb_ = f;
    in_gain_ = std::sqrt(std::max(0.f, 1 - f * f));
    for (int c = 0; c < kMaxChannels; ++c) {
      float ms = c % 2 ? active_.fRightDelay : active_.fLeftDelay;
      size_t d = static_cast<size_t>(std::lround(ms * rate_ / 1000.0));
      delay_[c] = d < 1 ? 1 : d > len_ - 1 ? len_ - 1 : d;
    }
  }

  // control thread (prepare)
  size_t len_ = 2;
  // audio thread
  std::vector<float> line_;  // channel by channel, each len_ long
  size_t pos_ = 0;
  size_t delay_[kMaxChannels] = {};
  float wet_ = 0.5f, dry_ = 0.5f, fb_ = 0.5f, in_gain_ = 0.866f;
};

}  // namespace

std::unique_ptr<Effect> make_echo() { return std::make_unique<Echo>(); }

}  // namespace tovarin::audio::dsp
