#include "audio/decode/sample_convert.hpp"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace tovarin::audio::decode {
namespace {

template <typename T>
float to_float(T v);
// Scaling by a power of two is exact: these equal the divisions they stand for.
template <>
float to_float<uint8_t>(uint8_t v) {
  return static_cast<float>(static_cast<int>(v) - 128) * (1.0f / 128);
}
template <>
float to_float<int16_t>(int16_t v) {
  return static_cast<float>(v) * (1.0f / 32768);
}
template <>
float to_float<int32_t>(int32_t v) {
  return static_cast<float>(v) * (1.0f / 2147483648.0f);
}
template <>
float to_float<int64_t>(int64_t v) {
  return static_cast<float>(static_cast<double>(v) / 9223372036854775808.0);
}
template <>
float to_float<float>(float v) {
  return v;
}
template <>
float to_float<double>(double v) {
  return static_cast<float>(v);
}

template <typename T>
void convert(const AVFrame* f, bool planar, int in_ch, int out_ch, int from, int count, float* out) {
  const int ch = std::min(in_ch, out_ch);
  const size_t n = static_cast<size_t>(count);
  if (!planar && in_ch == out_ch) {
    // The usual case, one flat run of samples: the loop vectorises.
    const T* in = reinterpret_cast<const T*>(f->extended_data[0]) + static_cast<size_t>(from) * in_ch;
    for (size_t i = 0; i < n * static_cast<size_t>(in_ch); ++i) out[i] = to_float<T>(in[i]);
    return;
  }
  if (planar && in_ch == 2 && out_ch == 2) {
    // Two planes interleaved in one pass (vectorises with shuffles).
    const T* l = reinterpret_cast<const T*>(f->extended_data[0]) + from;
    const T* r = reinterpret_cast<const T*>(f->extended_data[1]) + from;
    for (size_t i = 0; i < n; ++i) {
      out[2 * i] = to_float<T>(l[i]);
      out[2 * i + 1] = to_float<T>(r[i]);
    }
    return;
  }
  if (planar) {
    // Plane by plane: each pass reads one run and writes every out_ch-th float.
    for (int c = 0; c < ch; ++c) {
      const T* in = reinterpret_cast<const T*>(f->extended_data[c]) + from;
      float* o = out + c;
      for (size_t i = 0; i < n; ++i) o[i * out_ch] = to_float<T>(in[i]);
    }
  } else {
    for (size_t i = 0; i < n; ++i) {
      const T* in = reinterpret_cast<const T*>(f->extended_data[0]) + (static_cast<size_t>(from) + i) * in_ch;
      for (int c = 0; c < ch; ++c) out[i * out_ch + c] = to_float<T>(in[c]);
    }
  }
  for (int c = ch; c < out_ch; ++c)
    for (size_t i = 0; i < n; ++i) out[i * out_ch + c] = 0.0f;
}

// Frames a resampler call may give at most for `in` input frames.
int out_room(SwrContext* swr, int in) { return std::max(swr_get_out_samples(swr, in), 0) + 16; }

}  // namespace

bool convert_frame(const AVFrame* f, int out_ch, int from, int count, float* out) {
  const int in_ch = f->ch_layout.nb_channels;
  if (in_ch <= 0) return false;
  const auto fmt = static_cast<AVSampleFormat>(f->format);
  const bool planar = av_sample_fmt_is_planar(fmt);
  switch (av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_U8: convert<uint8_t>(f, planar, in_ch, out_ch, from, count, out); return true;
    case AV_SAMPLE_FMT_S16: convert<int16_t>(f, planar, in_ch, out_ch, from, count, out); return true;
    case AV_SAMPLE_FMT_S32: convert<int32_t>(f, planar, in_ch, out_ch, from, count, out); return true;
    case AV_SAMPLE_FMT_S64: convert<int64_t>(f, planar, in_ch, out_ch, from, count, out); return true;
    case AV_SAMPLE_FMT_FLT: convert<float>(f, planar, in_ch, out_ch, from, count, out); return true;
    case AV_SAMPLE_FMT_DBL: convert<double>(f, planar, in_ch, out_ch, from, count, out); return true;
    default: return false;
  }
}

bool is_integer_format(const AVFrame* f) {
  switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(f->format))) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S64: return true;
    default: return false;
  }
}

SampleConverter::~SampleConverter() { swr_free(&swr_); }

bool SampleConverter::direct(const AVFrame* f) const {
  return f->sample_rate == rate_ && f->ch_layout.nb_channels == channels_;
}

void SampleConverter::reset() {
  swr_free(&swr_);
  in_rate_ = in_channels_ = 0;
  in_format_ = -1;
}

void SampleConverter::drain(std::vector<float>& out) {
  if (!swr_) return;
  for (;;) {
    const int room = out_room(swr_, 0);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(room) * channels_);
    uint8_t* o = reinterpret_cast<uint8_t*>(out.data() + at);
    const int got = swr_convert(swr_, &o, room, nullptr, 0);
    out.resize(at + static_cast<size_t>(std::max(got, 0)) * channels_);
    if (got <= 0) break;
  }
  reset();
}

bool SampleConverter::configure(const AVFrame* f) {
  if (swr_ && f->sample_rate == in_rate_ && f->ch_layout.nb_channels == in_channels_ && f->format == in_format_)
    return true;
  reset();
  AVChannelLayout in_layout{}, out_layout{};
  // The frame's own layout when it names one, else the usual one for its count.
  if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_copy(&in_layout, &f->ch_layout) < 0)
    av_channel_layout_default(&in_layout, f->ch_layout.nb_channels);
  av_channel_layout_default(&out_layout, channels_);
  const int rc = swr_alloc_set_opts2(&swr_, &out_layout, AV_SAMPLE_FMT_FLT, rate_, &in_layout,
                                     static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&in_layout);
  av_channel_layout_uninit(&out_layout);
  if (rc < 0 || swr_init(swr_) < 0) {
    reset();
    return false;
  }
  in_rate_ = f->sample_rate;
  in_channels_ = f->ch_layout.nb_channels;
  in_format_ = f->format;
  return true;
}

bool SampleConverter::convert(const AVFrame* f, int from, int count, std::vector<float>& out) {
  if (f->sample_rate <= 0 || f->ch_layout.nb_channels <= 0) return false;
  if (direct(f)) {
    // Back in the stream's own format: what the resampler holds comes first.
    drain(out);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(count) * channels_);
    if (convert_frame(f, channels_, from, count, out.data() + at)) return true;
    out.resize(at);
    return false;
  }
  if (swr_ && (f->sample_rate != in_rate_ || f->ch_layout.nb_channels != in_channels_ || f->format != in_format_))
    drain(out);
  if (!configure(f)) return false;
  const int room = out_room(swr_, f->nb_samples);
  const size_t at = out.size();
  out.resize(at + static_cast<size_t>(room) * channels_);
  uint8_t* o = reinterpret_cast<uint8_t*>(out.data() + at);
  const int got = swr_convert(swr_, &o, room, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
  out.resize(at + static_cast<size_t>(std::max(got, 0)) * channels_);
  return got >= 0;
}

}  // namespace tovarin::audio::decode
