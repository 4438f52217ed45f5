// Decoded frames into the interleaved floats a stream keeps: any FFmpeg
// sample format, and any rate and channel count, at the one rate and channel
// count the stream was opened with. A frame in the stream's own format is
// converted sample by sample; a frame in another one (the next part of a
// chained Ogg file, a station that came back in another format, an MP3
// frame at another rate) goes through a resampler that carries on across
// the frames, so the sound keeps its pitch and has no seam. Owned by one
// thread (the decoder's); no other state.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
struct AVFrame;
struct SwrContext;
}

namespace tovarin::audio::decode {

class SampleConverter {
 public:
  SampleConverter(int rate, int channels) : rate_(rate), channels_(channels) {}
  ~SampleConverter();
  SampleConverter(const SampleConverter&) = delete;
  SampleConverter& operator=(const SampleConverter&) = delete;

  int rate() const { return rate_; }
  int channels() const { return channels_; }
  // True when f is in the stream's own rate and channel count.
  bool direct(const AVFrame* f) const;
  // Appends f's samples [from, from + count) to out as frames of the
  // stream's format; frames in another format are resampled whole (from
  // and count are then ignored). What a resampler still held from an
  // earlier format comes first. False for a sample format or layout that
  // cannot be converted (out is then as it was).
  bool convert(const AVFrame* f, int from, int count, std::vector<float>& out);
  // Appends what the resampler still holds (at the end of the stream).
  void drain(std::vector<float>& out);
  // Forgets the resampler and what it holds (after a seek).
  void reset();
  // True while a resampler is set up: frames it holds come before the next
  // frame in the stream's own format (drain() them).
  bool holding() const { return swr_ != nullptr; }

 private:
  bool configure(const AVFrame* f);

  const int rate_, channels_;
  SwrContext* swr_ = nullptr;
  // The input format swr_ is set up for.
  int in_rate_ = 0, in_channels_ = 0, in_format_ = -1;
};

// Sample-by-sample conversion of f's samples [from, from + count) into
// out_ch interleaved floats a frame (channels beyond f's are 0, f's beyond
// out_ch are dropped). False for a sample format it does not know.
bool convert_frame(const AVFrame* f, int out_ch, int from, int count, float* out);
// True when f holds integer samples: convert_frame() then gives only finite
// values within full scale.
bool is_integer_format(const AVFrame* f);

}  // namespace tovarin::audio::decode
