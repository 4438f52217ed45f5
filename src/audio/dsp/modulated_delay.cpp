#include "audio/dsp/modulated_delay.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/simd.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr int kMaxChannels = 8;
constexpr size_t kPiece = 256;  // frames whose LFO is worked out ahead (a multiple of 4)

// Per sample the work is: the LFO (a rotating phasor for the sine, the
// phase itself for the triangle, no trigonometry), one write per line and
// linear interpolation at two points per read. The line is a power of two
// long, so positions wrap with a mask.
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
    size_t need = static_cast<size_t>(kind_.max_delay_ms * 1.5f * rate / 1000.f) + 4;
    size_t len = 4;
    while (len < need) len <<= 1;
    mask_ = len - 1;
    line_.assign(len * lines_, 0.f);
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
    seg_phase_ = 0;
    lfo_at_ = 0;
    lfo_stale_ = true;
  }

  void process(float* x, size_t frames) override {
    if (box_.take(active_)) {
      // Keep the LFO's phase where it is now under the new rate.
      const double now = seg_phase_ + static_cast<double>(lfo_at_) * phase_step_;
      compute();
      seg_phase_ = now - static_cast<double>(lfo_at_) * phase_step_;
      lfo_stale_ = true;
    }
    if (line_.empty()) return;
    for (size_t done = 0; done < frames;) {
      if (lfo_at_ == kPiece) {
        seg_phase_ += phase_step_ * static_cast<double>(kPiece);
        seg_phase_ -= std::floor(seg_phase_);
        lfo_at_ = 0;
        lfo_stale_ = true;
      }
      if (lfo_stale_) sweep_segment();
      const size_t n = std::min(kPiece - lfo_at_, frames - done);
      float* piece = x + done * channels_;
      switch (channels_) {
        case 1:
          run<1>(piece, n, 1);
          break;
        case 2:
          run<2>(piece, n, 2);
          break;
        default:
          run<0>(piece, n, channels_);
          break;
      }
      done += n;
      lfo_at_ += n;
    }
  }

 private:
  // The delays (in samples) of the left and right reads for the kPiece
  // frames of the segment that starts at phase seg_phase_. The sine LFO
  // rotates four phasors a step of four samples at a time, so no sample
  // waits on the one before; each segment starts from the exact phase, so
  // nothing drifts. Segments are counted from the start of the sound, not
  // from the blocks, so how the sound is cut into blocks changes nothing.
  void sweep_segment() {
    lfo_stale_ = false;
    const double step = phase_step_, offset = phase_offset_;
    const float centre = static_cast<float>(centre_), sweep = static_cast<float>(sweep_);
    if (active_.lWaveform != 0) {
      F4 s, c;
      for (int k = 0; k < 4; ++k) {
        const double w = 2 * M_PI * (seg_phase_ + k * step);
        s[k] = static_cast<float>(std::sin(w));
        c[k] = static_cast<float>(std::cos(w));
      }
      const F4 rs = splat(static_cast<float>(std::sin(8 * M_PI * step)));
      const F4 rc = splat(static_cast<float>(std::cos(8 * M_PI * step)));
      const F4 os = splat(static_cast<float>(std::sin(2 * M_PI * offset)));
      const F4 oc = splat(static_cast<float>(std::cos(2 * M_PI * offset)));
      for (size_t i = 0; i < kPiece; i += 4) {
        store4(d0_ + i, centre + sweep * s);
        store4(d1_ + i, centre + sweep * (s * oc + c * os));
        const F4 s2 = s * rc + c * rs;
        c = c * rc - s * rs;
        s = s2;
      }
    } else {
      for (size_t i = 0; i < kPiece; ++i) {
        const double p = seg_phase_ + static_cast<double>(i) * step;
        d0_[i] = static_cast<float>(centre_ + sweep_ * triangle(p));
        d1_[i] = static_cast<float>(centre_ + sweep_ * triangle(p + offset));
      }
    }
  }

  // kCh: the channel count when known at compile time (0: ch at run time).
  // Settings and positions are copied into locals first: the line's float
  // stores could otherwise alias the members, which would then be reloaded
  // for every sample.
  template <int kCh>
  void run(float* x, size_t frames, int ch_rt) {
    const int ch = kCh ? kCh : ch_rt;
    const int lines = lines_;
    const bool mono = lines == 1;
    float* const line = line_.data();
    const size_t mask = mask_;
    const float inv_ch = 1.f / ch, wet = wet_, dry = dry_, fb = fb_;
    const size_t fb_whole = fb_whole_;
    const float fb_frac = fb_frac_;
    // The line `delay` samples before the write position (0 = the sample
    // just written there), linearly interpolated; delay >= 0.
    auto tap = [&](size_t pos, int k, float delay) {
      const int32_t whole = static_cast<int32_t>(delay);
      const float frac = delay - static_cast<float>(whole);
      const size_t a = (pos - static_cast<size_t>(whole)) & mask, b = (a - 1) & mask;
      return line[a * lines + k] * (1 - frac) + line[b * lines + k] * frac;
    };
    auto feedback = [&](size_t pos, int k) {
      const size_t a = (pos - fb_whole) & mask, b = (a - 1) & mask;
      return line[a * lines + k] * (1 - fb_frac) + line[b * lines + k] * fb_frac;
    };
    const float* lfo0 = d0_ + lfo_at_;
    const float* lfo1 = d1_ + lfo_at_;
    size_t pos = pos_;
    for (size_t i = 0; i < frames; ++i) {
      float* f = x + i * ch;
      // Feed the line(s): input plus feedback from the centre tap.
      if (mono) {
        float in = 0;
        for (int k = 0; k < ch; ++k) in += f[k];
        line[pos] = flush(in * inv_ch + fb * feedback(pos, 0));
      } else {
        for (int k = 0; k < ch; ++k) line[pos * lines + k] = flush(f[k] + fb * feedback(pos, k));
      }
      const float d0 = lfo0[i], d1 = lfo1[i];
      if (ch == 2) {
        const float w0 = tap(pos, 0, d0), w1 = tap(pos, mono ? 0 : 1, d1);
        f[0] = dry * f[0] + wet * w0;
        f[1] = dry * f[1] + wet * w1;
      } else {
        for (int k = 0; k < ch; ++k) f[k] = dry * f[k] + wet * tap(pos, mono ? 0 : k, k % 2 ? d1 : d0);
      }
      pos = (pos + 1) & mask;
    }
    pos_ = pos;
  }

  static float flush(float v) { return std::fabs(v) < 1e-25f ? 0.f : v; }

  // LFO in -1..+1 at phase p (cycles, any sign).
  static double triangle(double p) {
    p -= std::floor(p);
    return p < 0.5 ? 4 * p - 1 : 3 - 4 * p;
  }

  void compute() {
    const auto& s = active_;
    wet_ = s.fWetDryMix / 100.f;
    dry_ = 1 - wet_;
    fb_ = s.fFeedback / 100.f;
    centre_ = s.fDelay * rate_ / 1000.0;
    // Feedback is read before this sample is written, so it is at least one
    // sample old.
    const double centre_fb = std::max(1.0, centre_);
    fb_whole_ = static_cast<size_t>(centre_fb);
    fb_frac_ = static_cast<float>(centre_fb - static_cast<double>(fb_whole_));
    sweep_ = s.fDepth / 100.0 * centre_ / 2;
    phase_step_ = rate_ > 0 ? s.fFrequency / rate_ : 0;
    static constexpr double kPhase[5] = {-0.5, -0.25, 0, 0.25, 0.5};
    phase_offset_ = kPhase[std::min<unsigned>(s.lPhase, 4)];
  }

  const ModulatedDelayKind kind_;
  // control thread (prepare)
  int rate_ = 44100;
  int channels_ = 2;
  int lines_ = 1;
  size_t mask_ = 3;
  // audio thread
  BASS_DX8_CHORUS active_{};
  std::vector<float> line_;  // frame-major: lines_ values per frame
  size_t pos_ = 0;
  double seg_phase_ = 0, phase_step_ = 0, phase_offset_ = 0;
  size_t lfo_at_ = 0;  // next entry of d0_ and d1_
  bool lfo_stale_ = true;
  double centre_ = 0, sweep_ = 0;
  float d0_[kPiece], d1_[kPiece];  // the segment's read delays, left and right
  size_t fb_whole_ = 1;
  float fb_frac_ = 0;
  float wet_ = 0.5f, dry_ = 0.5f, fb_ = 0;
};

}  // namespace

std::unique_ptr<Effect> make_modulated_delay(const ModulatedDelayKind& kind) {
  return std::make_unique<ModulatedDelay>(kind);
}

}  // namespace tovarin::audio::dsp
