// The effect interface of the audio library's channels.
//
// An effect is a settings record (validated, the units and ranges below)
// plus running state (filter memories, delay lines). The owning channel
// calls, on the control thread: prepare(rate, channels) once before the
// effect is attached (it may allocate), then set_parameters/get_parameters
// at any time. On the audio thread: process() on interleaved float blocks at
// the stream's own rate, and reset() when the stream jumps (seek, restart),
// which the channel only does while the audio thread is kept off it.
// process() allocates nothing, takes no lock and does no I/O: new settings
// reach it through a SettingsBox, picked up at the start of a block.
//
// set_parameters() validates the whole record first: a field out of range
// fails (false) and keeps the old values.
//
// Adding an effect kind is one file defining a factory plus one entry in
// the table of effect.cpp.
//
// Parametric equalizer band (BASS_FX_DX8_PARAMEQ, BASS_DX8_PARAMEQ):
//   fCenter    Hz         80..16000  default 8000; above a third of the
//                         stream's rate it is clamped to that third (and
//                         the call succeeds); get answers the clamped value
//   fBandwidth semitones  1..36      default 12
//   fGain      dB         -15..+15   default 0 (exactly 0 passes the signal
//                         through untouched)
//   One peaking biquad per channel (every channel alike).
//
// Chorus (BASS_FX_DX8_CHORUS) and flanger (BASS_FX_DX8_FLANGER), record
// BASS_DX8_CHORUS:                         chorus          flanger
//   fWetDryMix % wet                       0..100, 50      0..100, 50
//   fDepth     % of the delay swept        0..100, 10      0..100, 100
//   fFeedback  % fed back, signed          -99..99, 25     -99..99, -50
//   fFrequency Hz of the LFO               0..10, 1.1      0..10, 0.25
//   lWaveform  0 triangle, 1 sine          0..1, 1         0..1, 1
//   fDelay     ms, centre of the sweep     0..20, 16       0..4, 2
//   lPhase     right LFO against the left: 0..4, 3         0..4, 2
//              0 -180, 1 -90, 2 0, 3 +90, 4 +180 degrees
//   With depth or rate 0 the effect is the comb (1 - w) + w z^-D / (1 - g z^-D).
//
// Echo (BASS_FX_DX8_ECHO, BASS_DX8_ECHO):
//   fWetDryMix % wet 0..100, 50; fFeedback % 0..100, 50;
//   fLeftDelay, fRightDelay ms 1..2000, 500; lPanDelay any non-zero = on
//   (left and right swap lines on each repeat), default 0.
//   Impulse response: 1 - w at 0, then w sqrt(1 - f^2) f^(k-1) at k x delay.
//
// Compressor (BASS_FX_DX8_COMPRESSOR, BASS_DX8_COMPRESSOR):
//   fGain dB after compression -60..60, 0; fAttack ms 0.01..500, 10;
//   fRelease ms 50..3000, 200; fThreshold dB -60..0, -20; fRatio n:1
//   1..100, 3; fPredelay ms of look-ahead 0..4, 4.
//
// Reverb (BASS_FX_DX8_REVERB, BASS_DX8_REVERB):
//   fInGain dB -96..0, 0; fReverbMix dB -96..0, 0 (0 all reverb, -96 dry);
//   fReverbTime ms to -60 dB 0.001..3000, 1000; fHighFreqRTRatio
//   0.001..0.999, 0.001 (decay time of the highs / decay time).
//   Mix as a power share m = 10^(mix/10): dry sqrt(1 - m), wet sqrt(m), both
//   after the input gain.
//
// Channels: the chorus and the reverb feed one line with the channels'
// mean; the flanger, echo and equalizer treat every channel alike (odd
// channels take the right-hand settings); the compressor links all channels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "audio/dsp/spin_lock.hpp"

namespace tovarin::audio::dsp {

constexpr int kMaxEffectChannels = 8;

// The smallest power of two that is at least n, for delay lines whose
// positions wrap with a mask.
constexpr size_t pow2_at_least(size_t n) {
  size_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

// Frames of a delay line that holds `max_ms` at `rate` plus `extra` frames,
// rounded up to a power of two so that its positions wrap with a mask.
inline size_t delay_line_frames(float max_ms, int rate, size_t extra) {
  return pow2_at_least(static_cast<size_t>(max_ms * rate / 1000.f) + extra);
}

// Calls piece(offset, count) over a block of `frames` frames, in order, in
// pieces of at most `most` frames (offset and count in frames).
template <class Piece>
inline void in_pieces(size_t frames, size_t most, Piece&& piece) {
  for (size_t done = 0; done < frames;) {
    const size_t n = frames - done < most ? frames - done : most;
    piece(done, n);
    done += n;
  }
}

// One peaking section per channel (the equalizer band), with double
// memories (low centres stay stable). An effect that is just that hands its
// section to the chain, which runs neighbouring sections together.
//
// A peaking biquad (b1 == a1, b0 + b2 == 1 + a2) is the input plus a band:
// H = 1 + g (1 - z^-2) / (1 + a1 z^-1 + a2 z^-2) with g = b0 - 1, run as
// u = v - a1 u1 - a2 u2, out = v + g (u - u2) (the memories are the last two
// values of u), which has a short path from frame to frame.
struct Biquad {
  double g = 0, a1 = 0, a2 = 0;
  bool bypass = true;  // passes the sound untouched
  double s1[kMaxEffectChannels] = {}, s2[kMaxEffectChannels] = {};
};

// Runs `count` sections in series over interleaved frames of `channels`
// channels (1..8; the k-th channel uses memories k), skipping bypassed ones,
// and flushes tiny memories to zero afterwards.
void run_biquads(Biquad* const* sections, size_t count, float* interleaved, size_t frames, int channels);

// Whether stereo sections may use the processor's wider vectors (AVX2 and
// FMA on x86-64), which it does by default where it has them; false when
// asked for what the processor or build lacks. For tests and benchmarks
// that compare the two (their rounding differs).
bool use_wide_vectors(bool on);

class Effect {
 public:
  virtual ~Effect() = default;

  // ---- control thread ----
  virtual void prepare(int rate, int channels) = 0;
  virtual bool set_parameters(const void* record) = 0;
  virtual void get_parameters(void* record) const = 0;

  // ---- audio thread ----
  virtual void reset() = 0;
  virtual void process(float* interleaved, size_t frames) = 0;
  // Instead of process(): an effect that is one Biquad per channel takes up
  // its new settings and hands the section over for this block; null for
  // every other effect.
  virtual Biquad* take_biquad() { return nullptr; }
};

// Runs a chain of effects in order over a block (audio thread), fusing
// neighbouring biquad sections into shared passes.
void run_chain(Effect* const* effects, size_t count, float* interleaved, size_t frames, int channels);

// What every effect does with its parameter record: set_parameters copies
// the record, lets the effect check the whole of it (and adjust it where its
// rules say so) and hands it to the audio thread through box_; process()
// picks it up into active_ with box_.take(). get_parameters answers what was
// last set, the effect's defaults until then.
template <class Record>
class RecordEffect : public Effect {
 public:
  bool set_parameters(const void* record) final {
    if (!record) return false;
    Record r;
    std::memcpy(&r, record, sizeof r);
    if (!accept(r)) return false;
    box_.set(r);
    return true;
  }
  void get_parameters(void* record) const final {
    const Record r = box_.get();
    std::memcpy(record, &r, sizeof r);
  }

 protected:
  explicit RecordEffect(const Record& defaults) : active_(defaults) { box_.set(active_); }

  // prepare()'s first step: the rate and the number of channels (1..8) the
  // effect runs at.
  void set_format(int rate, int channels) {
    rate_ = rate;
    channels_ = channels < 1 ? 1 : channels > kMaxEffectChannels ? kMaxEffectChannels : channels;
  }

  // Control thread: false when any field is out of range.
  virtual bool accept(Record& r) const = 0;
  SettingsBox<Record> box_;
  // control thread (prepare)
  int rate_ = 44100;
  int channels_ = 2;
  // audio thread: the settings in force
  Record active_;
};

// Values below this are flushed to zero in recursive state, so silence never
// decays into denormals.
constexpr double kDenormalFloor = 1e-25;

// Largest magnitude let into the effects: 60 dB over full scale, far above
// any real signal, and far enough below the float range that no effect's
// gain (at most some 60 dB more) can overflow to infinity.
constexpr float kSampleLimit = 1000.f;

// Makes a block safe for the effects and meters: a non-finite sample
// becomes 0 and a finite one is clipped to +-kSampleLimit. Returns how many
// samples it changed (normally 0).
size_t sanitize(float* samples, size_t count);

// New effect of a BASS_FX_DX8_* type with its defaults, or null when the
// type is unknown or not available.
std::unique_ptr<Effect> make_effect(uint32_t type);

// Factories, one per effect file.
std::unique_ptr<Effect> make_param_eq();
std::unique_ptr<Effect> make_chorus();
std::unique_ptr<Effect> make_flanger();
std::unique_ptr<Effect> make_echo();
std::unique_ptr<Effect> make_compressor();
std::unique_ptr<Effect> make_reverb();

}  // namespace tovarin::audio::dsp
