// The file input: a capture plays the file's sound (decoded like a stream,
// converted to the rate and channels asked for), then silence, in real time.
#include <algorithm>
#include <chrono>
#include <thread>

#include "audio/device/input.hpp"
#include "audio/source.hpp"
#include "platform/platform.hpp"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

namespace tovarin::audio {

namespace {

class FileCapture final : public PacedCapture {
 public:
  FileCapture(int rate, int channels, CaptureSink sink, std::unique_ptr<Source> source)
      : PacedCapture(rate, channels, std::move(sink)), source_(std::move(source)) {}
  ~FileCapture() override {
    stop();
    swr_free(&swr_);
  }

  bool init(std::string* error) {
    const SourceInfo& info = source_->info();
    AVChannelLayout in{}, out{};
    av_channel_layout_default(&in, info.channels);
    av_channel_layout_default(&out, channels_);
    int rc = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_S16, rate_, &in, AV_SAMPLE_FMT_FLT, info.rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (rc < 0 || swr_init(swr_) < 0) {
      if (error) *error = "cannot convert the input file";
      return false;
    }
    in_.assign(static_cast<size_t>(info.rate / 10 + 64) * info.channels, 0.f);
    source_->start();
    // Wait (bounded) for the decoder's first frames, so the capture does not
    // begin with a gap.
    for (int i = 0; i < 400 && !pending_; ++i) {
      pending_ = source_->read(in_.data(), in_.size() / info.channels);
      if (pending_ || source_->finished()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 protected:
  void fill(int16_t* out, size_t frames) override {
    size_t have = 0;
    uint8_t* o = reinterpret_cast<uint8_t*>(out);
    float dummy = 0;
    const uint8_t* none[1] = {reinterpret_cast<const uint8_t*>(&dummy)};
    int r = swr_convert(swr_, &o, static_cast<int>(frames), none, 0);
    if (r > 0) have = r;
    const SourceInfo& info = source_->info();
    if (pending_) {
      const uint8_t* ins[1] = {reinterpret_cast<const uint8_t*>(in_.data())};
      o = reinterpret_cast<uint8_t*>(out + have * channels_);
      r = swr_convert(swr_, &o, static_cast<int>(frames - have), ins, static_cast<int>(pending_));
      if (r > 0) have += r;
      pending_ = 0;
    }
    while (have < frames && !drained_) {
      size_t want = std::min<size_t>(in_.size() / info.channels,
                                     av_rescale_rnd(frames - have, info.rate, rate_, AV_ROUND_UP) + 1);
      size_t got = source_->read(in_.data(), want);
      o = reinterpret_cast<uint8_t*>(out + have * channels_);
      if (got == 0) {
        if (!source_->finished()) break;  // decoder behind: a moment of silence
        r = swr_convert(swr_, &o, static_cast<int>(frames - have), nullptr, 0);
        if (r <= 0)
          drained_ = true;
        else
          have += r;
        continue;
      }
      const uint8_t* ins[1] = {reinterpret_cast<const uint8_t*>(in_.data())};
      r = swr_convert(swr_, &o, static_cast<int>(frames - have), ins, static_cast<int>(got));
      if (r > 0) have += r;
    }
    std::fill(out + have * channels_, out + frames * channels_, int16_t{0});
  }

 private:
  std::unique_ptr<Source> source_;
  // capture thread (after init)
  SwrContext* swr_ = nullptr;
  std::vector<float> in_;
  bool drained_ = false;
  size_t pending_ = 0;  // frames in in_ read before the thread started
};

class WavInput final : public CaptureDevice {
 public:
  explicit WavInput(std::string path) : path_(std::move(path)) {}
  std::vector<std::string> input_names() const override { return {"File"}; }
  std::unique_ptr<Capture> start(int rate, int channels, CaptureSink sink, std::string* error) override {
    int code = 0;
    auto source = open_file_source(path_, &code);
    if (!source) {
      if (error) *error = "cannot open " + path_;
      return nullptr;
    }
    auto c = std::make_unique<FileCapture>(rate, channels, std::move(sink), std::move(source));
    if (!c->init(error)) return nullptr;
    c->begin();
    return c;
  }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<CaptureDevice> make_wav_input(const std::string& arg, std::string* error) {
  if (!platform::regular_file(arg)) {
    if (error) *error = "no such file: " + arg;
    return nullptr;
  }
  return std::make_unique<WavInput>(arg);
}

}  // namespace tovarin::audio
