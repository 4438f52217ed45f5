#include "audio/dsp/modulated_delay.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/simd.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr size_t kPiece = 256;  // frames whose LFO is worked out ahead (a multiple of 4)

// Per sample the work is: the LFO (a rotating phasor for the sine, the
// phase itself for the triangle, no trigonometry), one write per line and
// linear interpolation at two points per read. The line is a power of two
// long, so positions wrap with a mask.
class ModulatedDelay final : public RecordEffect<BASS_DX8_CHORUS> {
 public:
  explicit ModulatedDelay(const ModulatedDelayKind& k)
      : RecordEffect({k.mix, k.depth, k.feedback, k.frequency, k.waveform, k.delay, k.phase}), kind_(k) {}

  void prepare(int rate, int channels) override {
    set_format(rate, channels);
    lines_ = kind_.mono_line ? 1 : channels_;
    // The sweep reaches 1.5 x the longest delay, plus room to interpolate,
    // plus a segment written ahead of its reads.
    const size_t len = delay_line_frames(kind_.max_delay_ms * 1.5f, rate, 4 + kPiece);
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
      run(piece, n);
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

  // One stretch of a segment in two stages: the line(s) fed for the whole
  // stretch first, then the reads and the mix. A read `delay` samples back
  // (0 = the sample written for the same frame) only needs what the first
  // stage wrote, and the line is long enough (a segment more than the
  // longest read) that nothing it needs is overwritten meanwhile. Settings
  // and positions are copied into locals first: the line's float stores
  // could otherwise alias the members, which would then be reloaded for
  // every sample.
  TOVARIN_BOTH_BUILDS(run, run_piece)

  template <bool kWide>  // the same code either way
  [[gnu::always_inline]] inline void run_piece(float* x, size_t n) {
    const int ch = channels_;
    const size_t size = mask_ + 1;
    for (int k = 0; k < lines_; ++k) {
      gather_input(x, n, k);
      feed(line_.data() + k * size, n);
    }
    const float* lfo0 = d0_ + lfo_at_;
    const float* lfo1 = d1_ + lfo_at_;
    const float wet = wet_, dry = dry_;
    if (ch == 2) {
      read(line_.data(), lfo0, t0_, n);
      read(line_.data() + (lines_ > 1 ? size : 0), lfo1, t1_, n);
      mix_stereo(x, n, t0_, t1_, dry, wet);
    } else {
      for (int c = 0; c < ch; ++c) {
        read(line_.data() + (lines_ > 1 ? c * size : 0), c % 2 ? lfo1 : lfo0, t0_, n);
        for (size_t i = 0; i < n; ++i) x[i * ch + c] = dry * x[i * ch + c] + wet * t0_[i];
      }
    }
    pos_ = (pos_ + n) & mask_;
  }

  // What line k is fed with, before the feedback: its channel, or the
  // channels' mean for the one line of the chorus.
  void gather_input(const float* x, size_t n, int k) {
    const int ch = channels_;
    float* const in = in_;
    size_t i = 0;
    if (lines_ > 1) {
      if (ch == 2) {
        for (; i + 4 <= n; i += 4) {
          const F4 a = load4(x + 2 * i), b = load4(x + 2 * i + 4);
          store4(in + i, k ? right4(a, b) : left4(a, b));
        }
      }
      for (; i < n; ++i) in[i] = x[i * ch + k];
      return;
    }
    sum_channels(x, n, ch, 1.f / ch, in);
  }

  // line[pos + i] = input + feedback x the line at the centre tap, for the
  // stretch. Split where a position wraps around, so each run addresses
  // the line directly; within a run four frames go at once when the centre
  // tap is at least four samples back (none of them reads another's write).
  [[gnu::always_inline]] inline void feed(float* line, size_t n) {
    const size_t size = mask_ + 1, back = fb_whole_;
    const float fb = fb_, frac = fb_frac_, keep = 1 - frac;
    for (size_t i = 0; i < n;) {
      const float* in = in_ + i;
      const size_t w = (pos_ + i) & mask_, r = (pos_ + i - back - 1) & mask_;
      if (r == mask_) {  // the centre tap's two samples straddle the wrap
        line[w] = flush(in[0] + fb * (line[0] * keep + line[mask_] * frac));
        ++i;
        continue;
      }
      const size_t len = std::min({n - i, size - w, size - 1 - r});
      float* dst = line + w;            // dst[j]: the line at pos + i + j
      const float* old = line + r + 1;  // old[j]: the line at pos + i + j - back
      size_t j = 0;
      if (back >= 4) {
        for (; j + 4 <= len; j += 4)
          store4(dst + j, flush4(load4(in + j) + fb * (load4(old + j) * keep + load4(old + j - 1) * frac)));
      }
      for (; j < len; ++j) dst[j] = flush(in[j] + fb * (old[j] * keep + old[j - 1] * frac));
      i += len;
    }
  }

  // out[i] = the line `delay[i]` samples before position pos + i, linearly
  // interpolated (delay >= 0). Positions and fractions four at a time.
  [[gnu::always_inline]] inline void read(const float* line, const float* delay, float* out, size_t n) const {
    const I4 mask = {static_cast<int32_t>(mask_), static_cast<int32_t>(mask_), static_cast<int32_t>(mask_),
                     static_cast<int32_t>(mask_)};
    const int32_t pos = static_cast<int32_t>(pos_);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
      const F4 d = load4(delay + i);
      const I4 whole = __builtin_convertvector(d, I4);
      const F4 frac = d - __builtin_convertvector(whole, F4);
      const I4 at = pos + static_cast<int32_t>(i) + I4{0, 1, 2, 3} - whole;
      const I4 a = at & mask, b = (at - 1) & mask;
      F4 va, vb;
      if (all4(a == a[0] + I4{0, 1, 2, 3}) && a[0] > 0) {
        // The usual case (the delay moves slowly): the same whole delay for
        // the four frames and no wrap, so the two reads are runs.
        va = load4(line + a[0]);
        vb = load4(line + b[0]);
      } else {
        va = F4{line[a[0]], line[a[1]], line[a[2]], line[a[3]]};
        vb = F4{line[b[0]], line[b[1]], line[b[2]], line[b[3]]};
      }
      store4(out + i, va * (1 - frac) + vb * frac);
    }
    for (; i < n; ++i) {
      const int32_t whole = static_cast<int32_t>(delay[i]);
      const float frac = delay[i] - static_cast<float>(whole);
      const size_t a = (pos_ + i - static_cast<size_t>(whole)) & mask_, b = (a - 1) & mask_;
      out[i] = line[a] * (1 - frac) + line[b] * frac;
    }
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
  int lines_ = 1;
  size_t mask_ = 3;
  // audio thread
  std::vector<float> line_;  // line by line, each mask_ + 1 long
  size_t pos_ = 0;
  double seg_phase_ = 0, phase_step_ = 0, phase_offset_ = 0;
  size_t lfo_at_ = 0;  // next entry of d0_ and d1_
  bool lfo_stale_ = true;
  double centre_ = 0, sweep_ = 0;
  float d0_[kPiece], d1_[kPiece];  // the segment's read delays, left and right
  size_t fb_whole_ = 1;
  float fb_frac_ = 0;
  float wet_ = 0.5f, dry_ = 0.5f, fb_ = 0;
  // The stretch at hand: a line's input, the reads of two channels.
  alignas(16) float in_[kPiece];
  alignas(16) float t0_[kPiece];
  alignas(16) float t1_[kPiece];
};

}  // namespace

std::unique_ptr<Effect> make_modulated_delay(const ModulatedDelayKind& kind) {
  return std::make_unique<ModulatedDelay>(kind);
}

}  // namespace tovarin::audio::dsp
