// The system's default playback device through SDL2. The device's callback
// thread is the audio thread.
#include <SDL2/SDL.h>

#include <atomic>

#include "audio/device/output.hpp"
#include "audio/mixer/mixer.hpp"

namespace tovarin::audio {

namespace {

class SdlOutput final : public Output {
 public:
  explicit SdlOutput(int rate) : rate_(rate) {}
  ~SdlOutput() override { stop(); }

  bool start(Mixer* mixer, std::string* error) override {
    mixer_ = mixer;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      if (error) *error = SDL_GetError();
      return false;
    }
    subsystem_ = true;
    SDL_AudioSpec want{}, have{};
    want.freq = rate_;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = 1024;  // about 23 ms: rides out a busy machine without dropouts
    want.callback = &SdlOutput::callback;
    want.userdata = this;
    // No changes allowed: SDL converts to whatever the device takes.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
      if (error) *error = SDL_GetError();
      stop();
      return false;
    }
    // Our block plus the device's own period.
    latency_ = 2 * have.samples;
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

  void stop() override {
    if (device_) SDL_CloseAudioDevice(device_);  // waits for a running callback
    device_ = 0;
    if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    subsystem_ = false;
  }

  int latency_frames() const override { return latency_; }

 private:
  static void callback(void* user, Uint8* stream, int len) {
    auto* self = static_cast<SdlOutput*>(user);
    self->mixer_->render(reinterpret_cast<float*>(stream), static_cast<size_t>(len) / (2 * sizeof(float)));
  }

  const int rate_;
  Mixer* mixer_ = nullptr;
  SDL_AudioDeviceID device_ = 0;
  bool subsystem_ = false;
  int latency_ = 0;
};

}  // namespace

std::unique_ptr<Output> make_sdl_output(const std::string&, int rate) { return std::make_unique<SdlOutput>(rate); }

}  // namespace tovarin::audio
