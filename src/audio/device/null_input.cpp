// The silent input: silence in real time.
#include <algorithm>

#include "audio/device/input.hpp"

namespace tovarin::audio {

namespace {
class SilentCapture final : public PacedCapture {
 public:
  using PacedCapture::PacedCapture;
  ~SilentCapture() override { stop(); }

 protected:
  void fill(int16_t* out, size_t frames) override { std::fill(out, out + frames * channels_, int16_t{0}); }
};

class NullInput final : public CaptureDevice {
 public:
  std::vector<std::string> input_names() const override { return {"Silence"}; }
  std::unique_ptr<Capture> start(int rate, int channels, CaptureSink sink, std::string*) override {
    auto c = std::make_unique<SilentCapture>(rate, channels, std::move(sink));
    c->begin();
    return c;
  }
};
}  // namespace

std::unique_ptr<CaptureDevice> make_null_input(const std::string&, std::string*) {
  return std::make_unique<NullInput>();
}

}  // namespace tovarin::audio
