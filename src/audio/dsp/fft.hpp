// Magnitude spectrum of the latest 1024 frames (BASS_DATA_FFT1024).
//
// The frames are mixed to mono (the mean of the channels), multiplied by a
// periodic Hann window w[n] = 0.5 - 0.5 cos(2 pi n / 1024), and transformed
// by one real FFT (libavutil's av_tx). Bin k (0..511) is k x rate / 1024 Hz.
//
// Scaling: magnitude[k] = |X[k]| / 256, where X is the unscaled transform.
// A sine of amplitude A (full scale = 1) centred on bin k reads A at bin k
// (the window's coherent gain 0.5 times the one-sided N/2 = 512 is 256); off
// a bin centre the peak drops by the Hann scalloping loss (at most 1.42 dB)
// and leaks into the neighbours. A constant level A reads 2A at bin 0.
//
// Not thread-safe: one instance per calling thread (the control thread).
#pragma once

#include <cstddef>

struct AVTXContext;

namespace tovarin::audio::dsp {

class Fft1024 {
 public:
  static constexpr int kSize = 1024;
  static constexpr int kBins = 512;

  Fft1024();
  ~Fft1024();
  Fft1024(const Fft1024&) = delete;
  Fft1024& operator=(const Fft1024&) = delete;

  // frames: kSize interleaved frames of `channels` channels. Writes kBins
  // magnitudes. False when the transform could not be set up.
  bool magnitudes(const float* frames, int channels, float* out);

 private:
  AVTXContext* ctx_ = nullptr;
  void (*fn_)(AVTXContext*, void*, void*, ptrdiff_t) = nullptr;
  alignas(32) float window_[kSize];
  alignas(32) float in_[kSize + 2];
  alignas(32) float out_[kSize + 2];  // kBins + 1 complex values
};

}  // namespace tovarin::audio::dsp
