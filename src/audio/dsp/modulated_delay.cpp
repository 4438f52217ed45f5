#include "audio/dsp/modulated_delay.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/bass.h"

namespace tovarin::audio::dsp {
namespace {

constexpr int kMaxChannels = 8;

class ModulatedDelay final : public RecordEffect<BASS_DX8_CHORUS> {
 public:
  explicit ModulatedDelay(const ModulatedDelayKind& k) : kind_(k) {
    active_ = {k.mix, k.depth, k.feedback, k.frequency, k.waveform, k.delay, k.phase};
    box_.set(active_);
  }

  void prepare(int rate, int channels) override {
    rate_ = rate;
    channels_ = std::clamp(channels, 1, kMaxChannels);
    lines_ = kind_.mono_line ? 1 : channels_;
    // The sweep reaches 1.5 x the longest delay, plus room to interpolate.
    len_ = static_cast<size_t>(kind_.max_delay_ms * 1.5f * rate / 1000.f) + 4;
    line_.assign(len_ * lines_, 0.f);
    active_ = box_.get();
    compute();
    reset();
  }

  bool accept(BASS_DX8_CHORUS& s) const override {
    if (!(s.fWetDryMix >= 0 && s.fWetDryMix <= 100)) return false;
    if (!(s.fDepth >= 0 && s.fDepth <= 100)) return false;
    if (!(s.fFeedback >= -99 && s.fFeedback <= 99)) return false;
    if (!(s.fFrequency >= 0 && s.fFrequency <= 10)) return false;
    if (s.lWaveform > 1) return false;
    if (!(s.fDelay >= 0 && s.fDelay <= kind_.max_delay_ms)) return false;
    if (s.lPhase > 4) return false;
    return true;
  }

  void reset() override {
    std::fill(line_.begin(), line_.end(), 0.f);
    pos_ = 0;
    phase_ = 0;
  }

  void process(float* x, size_t frames) override {
    if (box_.take(active_)) compute();
    const int ch = channels_;
    for (size_t i = 0; i < frames; ++i) {
      float* f = x + i * ch;
      // Feed the line(s): input plus feedback from the centre tap.
      if (lines_ == 1) {
        float in = 0;
        for (int c = 0; c < ch; ++c) in += f[c];
        in /= ch;
        write(0, in + fb_ * tap(0, centre_fb_));
      } else {
        for (int c = 0; c < ch; ++c) write(c, f[c] + fb_ * tap(c, centre_fb_));
      }
      const double l0 = lfo(phase_), l1 = lfo(phase_ + phase_offset_);
      for (int c = 0; c < ch; ++c) {
        double delay = centre_ + sweep_ * (c % 2 ? l1 : l0);
        float wet = tap(lines_ == 1 ? 0 : c, delay);
        f[c] = dry_ * f[c] + wet_ * wet;
      }
      if (++pos_ == len_) pos_ = 0;
      phase_ += phase_step_;
      if (phase_ >= 1) phase_ -= 1;
    }
  }

 private:
  // LFO in -1..+1 at phase p (cycles).
  double lfo(double p) const {
    p -= std::floor(p);
    if (active_.lWaveform == 0) return p < 0.5 ? 4 * p - 1 : 3 - 4 * p;  // triangle
    return std::sin(2 * M_PI * p);
  }

  void write(int line, float v) { line_[pos_ * lines_ + line] = std::fabs(v) < 1e-25f ? 0.f : v; }

  // The line `delay` samples before the current write position (0 = the
  // sample just written), linearly interpolated.
  float tap(int line, double delay) const {
    delay = std::clamp(delay, 0.0, static_cast<double>(len_ - 2));
    size_t whole = static_cast<size_t>(delay);
    float frac = static_cast<float>(delay - whole);
    size_t a = (pos_ + len_ - whole) % len_, b = (a + len_ - 1) % len_;
    return line_[a * lines_ + line] * (1 - frac) + line_[b * lines_ + line] * frac;
  }

  void compute() {
    const auto& s = active_;
    wet_ = s.fWetDryMix / 100.f;
    dry_ = 1 - wet_;
    fb_ = s.fFeedback / 100.f;
    centre_ = s.fDelay * rate_ / 1000.0;
    // Feedback is read before this sample is written, so it is at least one
    // sample old.
    centre_fb_ = std::max(1.0, centre_);
    sweep_ = s.fDepth / 100.0 * centre_ / 2;
    phase_step_ = s.fFrequency / rate_;
    static constexpr double kPhase[5] = {-0.5, -0.25, 0, 0.25, 0.5};
    phase_offset_ = kPhase[std::min<unsigned>(s.lPhase, 4)];
  }

  const ModulatedDelayKind kind_;
  // control thread (prepare)
  int rate_ = 44100;
  int channels_ = 2;
  int lines_ = 1;
  size_t len_ = 4;
  // audio thread
  BASS_DX8_CHORUS active_{};
  std::vector<float> line_;
  size_t pos_ = 0;
  double phase_ = 0, phase_step_ = 0, phase_offset_ = 0;
  double centre_ = 0, centre_fb_ = 0, sweep_ = 0;
  float wet_ = 0.5f, dry_ = 0.5f, fb_ = 0;
};

}  // namespace

std::unique_ptr<Effect> make_modulated_delay(const ModulatedDelayKind& kind) {
  return std::make_unique<ModulatedDelay>(kind);
}

}  // namespace tovarin::audio::dsp
