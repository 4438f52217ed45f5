// Echo: one feedback delay line per channel; with pan delay the channels
// read each other's lines, so repeats alternate sides.
#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr int kMaxChannels = 8;
constexpr float kMaxDelayMs = 2000.f;

class Echo final : public RecordEffect<BASS_DX8_ECHO> {
 public:
  Echo() { box_.set(active_); }

  void prepare(int rate, int channels) override {
    rate_ = rate;
    channels_ = channels < 1 ? 1 : channels > kMaxChannels ? kMaxChannels : channels;
    // A power of two, so positions wrap with a mask.
    size_t need = static_cast<size_t>(kMaxDelayMs * rate / 1000.f) + 2;
    len_ = 2;
    while (len_ < need) len_ <<= 1;
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
    size_t pos = pos_;
    if (ch == 2) {
      // With pan delay, left and right swap lines (and delays).
      const size_t dl = delay_[pan ? 1 : 0], dr = delay_[pan ? 0 : 1];
      const int sl = pan ? 1 : 0, sr = pan ? 0 : 1;
      for (size_t i = 0; i < frames; ++i) {
        float* f = x + 2 * i;
        const float d0 = line[((pos - dl) & mask) * 2 + sl], d1 = line[((pos - dr) & mask) * 2 + sr];
        const float in0 = f[0], in1 = f[1];
        line[pos * 2] = flush(in_gain_ * in0 + fb_ * d0);
        line[pos * 2 + 1] = flush(in_gain_ * in1 + fb_ * d1);
        f[0] = dry_ * in0 + wet_ * d0;
        f[1] = dry_ * in1 + wet_ * d1;
        pos = (pos + 1) & mask;
      }
      pos_ = pos;
      return;
    }
    for (size_t i = 0; i < frames; ++i) {
      float d[kMaxChannels];
      for (int c = 0; c < ch; ++c) {
        // Further channels keep their own lines.
        int src = pan && c < 2 ? 1 - c : c;
        d[c] = line[((pos - delay_[src]) & mask) * ch + src];
      }
      for (int c = 0; c < ch; ++c) {
        float in = x[i * ch + c];
        line[pos * ch + c] = flush(in_gain_ * in + fb_ * d[c]);
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
  int rate_ = 44100;
  int channels_ = 2;
  size_t len_ = 2;
  // audio thread
  BASS_DX8_ECHO active_{50, 50, 500, 500, 0};
  std::vector<float> line_;
  size_t pos_ = 0;
  size_t delay_[kMaxChannels] = {};
  float wet_ = 0.5f, dry_ = 0.5f, fb_ = 0.5f, in_gain_ = 0.866f;
};

}  // namespace

std::unique_ptr<Effect> make_echo() { return std::make_unique<Echo>(); }

}  // namespace tovarin::audio::dsp
