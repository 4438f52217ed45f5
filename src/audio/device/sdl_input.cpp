// The system's default capture device through SDL2; SDL converts to the
// rate and channels asked for, and its callback thread is the capture thread.
#include <SDL2/SDL.h>

#include <atomic>

#include "audio/device/input.hpp"

namespace tovarin::audio {

namespace {

class SdlCapture final : public Capture {
 public:
  explicit SdlCapture(CaptureSink sink) : sink_(std::move(sink)) {}
  ~SdlCapture() override { stop(); }

  bool open(int rate, int channels, std::string* error) {
    SDL_AudioSpec want{}, have{};
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(channels);
    want.samples = 1024;
    want.callback = &SdlCapture::callback;
    want.userdata = this;
    channels_ = channels;
    device_ = SDL_OpenAudioDevice(nullptr, 1, &want, &have, 0);
    if (!device_) {
      if (error) *error = SDL_GetError();
      return false;
    }
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

  void stop() override {
    if (device_) SDL_CloseAudioDevice(device_);  // waits for a running callback
    device_ = 0;
  }

 private:
  static void callback(void* user, Uint8* stream, int len) {
    auto* self = static_cast<SdlCapture*>(user);
    if (self->done_) return;
    size_t frames = static_cast<size_t>(len) / (2 * self->channels_);
    if (!self->sink_(reinterpret_cast<const int16_t*>(stream), frames)) self->done_ = true;
  }

  CaptureSink sink_;
  SDL_AudioDeviceID device_ = 0;
  int channels_ = 1;
  std::atomic<bool> done_{false};
};

class SdlInput final : public CaptureDevice {
 public:
  ~SdlInput() override { SDL_QuitSubSystem(SDL_INIT_AUDIO); }

  std::vector<std::string> input_names() const override {
    std::vector<std::string> names;
    int n = SDL_GetNumAudioDevices(1);
    for (int i = 0; i < n; ++i)
      if (const char* name = SDL_GetAudioDeviceName(i, 1)) names.emplace_back(name);
    if (names.empty()) names.emplace_back("Default");
    return names;
  }

  std::unique_ptr<Capture> start(int rate, int channels, CaptureSink sink, std::string* error) override {
    auto c = std::make_unique<SdlCapture>(std::move(sink));
    if (!c->open(rate, channels, error)) return nullptr;
    return c;
  }
};

}  // namespace

std::unique_ptr<CaptureDevice> make_sdl_input(const std::string&, std::string* error) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    if (error) *error = SDL_GetError();
    return nullptr;
  }
  // The default device may exist without being listed (a server's monitor
  // source), so try to open it rather than count devices.
  SDL_AudioSpec want{};
  want.freq = 44100;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  SDL_AudioSpec have{};
  SDL_AudioDeviceID probe = SDL_OpenAudioDevice(nullptr, 1, &want, &have, SDL_AUDIO_ALLOW_ANY_CHANGE);
  if (!probe) {
    if (error) *error = SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  }
  SDL_CloseAudioDevice(probe);
  return std::make_unique<SdlInput>();
}

}  // namespace tovarin::audio
