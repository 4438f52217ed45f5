// The system's default capture device through SDL2, followed as devices
// come and go; SDL converts to the rate and channels asked for, and its
// callback thread is the capture thread.
//
// A capture follows the default capture device (follower.hpp); while none
// opens (also when the capture starts), the silent input delivers silence
// in real time. A device is opened paused and resumed only after the capture before it has
// stopped, so the sink is never called from two threads at once, and
// buffers keep coming whatever happens to the devices.
#include <atomic>

#include "audio/device/follower.hpp"
#include "audio/device/input.hpp"
#include "audio/device/sdl_audio.hpp"
#include "platform/platform.hpp"

namespace tovarin::audio {

namespace {

// The sink a capture was started with, shared by the devices that deliver
// to it one after another: once it has returned false it is not called
// again, whichever device delivers.
struct SinkState {
  CaptureSink sink;
  std::atomic<bool> done{false};
  bool deliver(const int16_t* frames, size_t count) {
    if (done.load(std::memory_order_acquire)) return false;
    if (sink(frames, count)) return true;
    done.store(true, std::memory_order_release);
    return false;
  }
};

// One opened SDL capture device.
class SdlDevice {
 public:
  explicit SdlDevice(std::shared_ptr<SinkState> sink) : sink_(std::move(sink)) {}
  ~SdlDevice() { close(); }

  // Opens the default capture device paused.
  bool open(int rate, int channels, std::string* error) {
    SDL_AudioSpec want{}, have{};
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(channels);
    want.samples = 1024;
    want.callback = &SdlDevice::callback;
    want.userdata = this;
    channels_ = channels;
    device_ = sdl().OpenAudioDevice(nullptr, 1, &want, &have, 0);
    if (!device_) {
      if (error) *error = sdl().GetError();
      return false;
    }
    return true;
  }
  void resume() { sdl().PauseAudioDevice(device_, 0); }
  bool lost() const { return sdl().GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED; }
  void close() {
    if (device_) sdl().CloseAudioDevice(device_);  // waits for a running callback
    device_ = 0;
  }

 private:
  static void callback(void* user, Uint8* stream, int len) {
    platform::use_default_float_environment();
    auto* self = static_cast<SdlDevice*>(user);
    size_t frames = static_cast<size_t>(len) / (2 * self->channels_);
    self->sink_->deliver(reinterpret_cast<const int16_t*>(stream), frames);
  }

  std::shared_ptr<SinkState> sink_;
  SDL_AudioDeviceID device_ = 0;
  int channels_ = 1;
};

class SdlCapture final : public Capture, private FollowedDevice {
 public:
  SdlCapture(int rate, int channels, CaptureSink sink)
      : rate_(rate), channels_(channels), sink_(std::make_shared<SinkState>()) {
    sink_->sink = std::move(sink);
  }
  ~SdlCapture() override { stop(); }

  // Starts on the default device, or on silence while there is none (the
  // device was there when the input was opened, so it may come back).
  void begin() {
    auto dev = std::make_unique<SdlDevice>(sink_);
    if (dev->open(rate_, channels_, nullptr)) {
      dev->resume();
      device_ = std::move(dev);
    } else {
      start_stand_in();
    }
    follower_.start(*this);
  }

  void stop() override {
    follower_.stop();
    device_.reset();
    silent_.reset();  // each stops its thread
  }

 private:
  // Watcher thread (follower.hpp); it ends once the sink wants no more.
  bool has_device() const override { return device_ != nullptr; }
  bool device_lost() const override { return device_->lost(); }
  void close_device() override { device_.reset(); }
  bool finished() const override { return sink_->done.load(std::memory_order_acquire); }

  // Watcher thread: opens the default device and moves the delivery onto
  // it, stopping the silent input first. False when no device opens.
  bool resume_on_device() override {
    auto dev = std::make_unique<SdlDevice>(sink_);
    if (!dev->open(rate_, channels_, nullptr)) return false;
    silent_.reset();  // its thread calls the sink no more
    dev->resume();
    device_ = std::move(dev);
    return true;
  }

  void start_stand_in() override {
    std::string why;
    auto forward = [sink = sink_](const int16_t* frames, size_t count) { return sink->deliver(frames, count); };
    silent_ = make_null_input("", &why)->start(rate_, channels_, forward, &why);
  }

  const int rate_;
  const int channels_;
  std::shared_ptr<SinkState> sink_;
  // Control thread before the watcher starts and after it ends; the watcher
  // in between.
  std::unique_ptr<SdlDevice> device_;
  std::unique_ptr<Capture> silent_;
  DeviceFollower follower_;
};

class SdlInput final : public CaptureDevice {
 public:
  ~SdlInput() override { sdl().QuitSubSystem(SDL_INIT_AUDIO); }

  std::vector<std::string> input_names() const override {
    std::vector<std::string> names;
    int n = sdl().GetNumAudioDevices(1);
    for (int i = 0; i < n; ++i)
      if (const char* name = sdl().GetAudioDeviceName(i, 1)) names.emplace_back(name);
    if (names.empty()) names.emplace_back("Default");
    return names;
  }

  std::unique_ptr<Capture> start(int rate, int channels, CaptureSink sink, std::string*) override {
    auto c = std::make_unique<SdlCapture>(rate, channels, std::move(sink));
    c->begin();
    return c;
  }
};

}  // namespace

std::unique_ptr<CaptureDevice> make_sdl_input(const std::string&, std::string* error) {
  if (!sdl_audio_start(error)) return nullptr;
  // The default device may exist without being listed (a server's monitor
  // source), so try to open it rather than count devices.
  SDL_AudioSpec want{};
  want.freq = 44100;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  SDL_AudioSpec have{};
  SDL_AudioDeviceID probe = sdl().OpenAudioDevice(nullptr, 1, &want, &have, SDL_AUDIO_ALLOW_ANY_CHANGE);
  if (!probe) {
    if (error) *error = sdl().GetError();
    sdl().QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  }
  sdl().CloseAudioDevice(probe);
  return std::make_unique<SdlInput>();
}

}  // namespace tovarin::audio
