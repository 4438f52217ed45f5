#include "audio/dsp/fft.hpp"

#include <cmath>

extern "C" {
#include <libavutil/tx.h>
}

namespace tovarin::audio::dsp {

Fft1024::Fft1024() {
  float scale = 1.f;
  av_tx_fn fn = nullptr;
  if (av_tx_init(&ctx_, &fn, AV_TX_FLOAT_RDFT, 0, kSize, &scale, 0) < 0) ctx_ = nullptr;
  fn_ = fn;
  for (int n = 0; n < kSize; ++n) window_[n] = static_cast<float>(0.5 - 0.5 * std::cos(2 * M_PI * n / kSize));
}

Fft1024::~Fft1024() { av_tx_uninit(&ctx_); }

bool Fft1024::magnitudes(const float* frames, int channels, float* out) {
  if (!ctx_ || channels < 1) return false;
  const float inv = 1.f / channels;
  for (int n = 0; n < kSize; ++n) {
    float s = 0;
    for (int c = 0; c < channels; ++c) s += frames[n * channels + c];
    in_[n] = s * inv * window_[n];
  }
  out_[kSize] = out_[kSize + 1] = 0;  // the Nyquist bin's imaginary part is never written
  fn_(ctx_, out_, in_, sizeof(float) * 2);
  constexpr float kScale = 1.f / 256.f;
  // |X| as hypotf computes it (squares summed exactly in double, one square
  // root), without the call per bin; the scale is a power of two, so exact.
  for (int k = 0; k < kBins; ++k) {
    const double re = out_[2 * k], im = out_[2 * k + 1];
    out[k] = static_cast<float>(std::sqrt(re * re + im * im)) * kScale;
  }
  return true;
}

}  // namespace tovarin::audio::dsp
