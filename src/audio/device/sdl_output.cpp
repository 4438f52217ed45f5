// The system's default playback device through SDL2, followed as devices
// come and go (follower.hpp). The device's callback thread is the audio
// thread.
//
// When a device is lost (unplugged, its sound server's sink removed), SDL
// marks it stopped and keeps calling the callback in a slightly inexact
// rhythm, until the watcher closes it. While no device opens, the silent
// output renders in real time. The mixer is never rendered by two threads at once: a
// device is opened paused and resumed only after the output before it has
// stopped, so the mixer's timeline, and every position, just goes on (minus
// the sound that was in the lost device's buffer).
//
// With nothing to play for kIdleClose the device is closed (its thread would
// otherwise wake for every block of silence), and the next play opens it
// again from the watcher (follower.hpp). Closed, it holds nothing unheard:
// positions are what the channels have emitted, and a channel that plays
// again is counted from there as the new device fills.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "audio/device/follower.hpp"
#include "audio/device/output.hpp"
#include "audio/device/sdl_audio.hpp"
#include "audio/mixer/mixer.hpp"
#include "platform/platform.hpp"

namespace tovarin::audio {

namespace {

constexpr std::chrono::milliseconds kIdleClose{1500};

class SdlOutput final : public Output, private FollowedDevice {
 public:
  explicit SdlOutput(int rate) : rate_(rate) {}
  ~SdlOutput() override { stop(); }

  bool start(Mixer* mixer, std::string* error) override {
    mixer_ = mixer;
    if (!sdl_audio_start(error)) return false;
    subsystem_ = true;
    // A machine whose device does not open at all uses the library's silent
    // output instead (without a watcher: there was never a device to follow).
    device_ = open_device(error);
    if (device_ == 0) {
      stop();
      return false;
    }
    rendered_.store(0, std::memory_order_relaxed);
    latency_.store(device_latency_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    sdl().PauseAudioDevice(device_, 0);
    follower_.start(*this);
    return true;
  }

  void stop() override {
    follower_.stop();
    if (device_) sdl().CloseAudioDevice(device_);  // waits for a running callback
    device_ = 0;
    std::unique_ptr<Output> silent;
    {
      std::lock_guard lock(mu_);
      silent = std::move(silent_);
    }
    if (silent) silent->stop();
    if (subsystem_) sdl().QuitSubSystem(SDL_INIT_AUDIO);
    subsystem_ = false;
  }

  // A device that has just begun holds no more than it was given, so a
  // position never steps back when the rendering moves onto a device.
  // Between two callbacks the device plays on from the block it was last
  // given, so what it still holds shrinks with the time since that callback.
  int latency_frames() const override {
    const int64_t full = latency_.load(std::memory_order_relaxed);
    const int64_t block = block_.load(std::memory_order_relaxed);
    const int64_t held = std::min<int64_t>(full, rendered_.load(std::memory_order_relaxed));
    const int64_t since_ns = platform::now_ns() - last_callback_ns_.load(std::memory_order_relaxed);
    // Never more than the next callback will take away (a block, less while
    // a new device is still filling up), so a late callback cannot let the
    // position run past what the next one reports.
    const int64_t most = std::clamp<int64_t>(held - (full - block), 0, std::min<int64_t>(held, block));
    const int64_t played = std::clamp<int64_t>(since_ns * rate_ / 1000000000, 0, most);
    return static_cast<int>(held - played);
  }

  uint64_t render_count() const override { return blocks_.load(); }

  void wake() override {
    {
      std::lock_guard lock(mu_);
      if (silent_) silent_->wake();
    }
    follower_.wake();  // a device closed while idle opens again
  }

 private:
  static void callback(void* user, Uint8* stream, int len) {
    platform::use_default_float_environment();  // SDL's thread runs the mixer here
    auto* self = static_cast<SdlOutput*>(user);
    self->blocks_.fetch_add(1);  // odd: positions wait for the block's end (Output::with_latency)
    const size_t frames = static_cast<size_t>(len) / (2 * sizeof(float));
    const bool playing = self->mixer_->render(reinterpret_cast<float*>(stream), frames);
    const int64_t idle = self->idle_frames_.load(std::memory_order_relaxed);
    self->idle_frames_.store(playing ? 0 : idle + static_cast<int64_t>(frames), std::memory_order_relaxed);
    self->rendered_.fetch_add(static_cast<int64_t>(frames), std::memory_order_relaxed);
    self->last_callback_ns_.store(platform::now_ns(), std::memory_order_relaxed);
    self->blocks_.fetch_add(1);
  }

  // The default device, opened paused; 0 when none opens.
  SDL_AudioDeviceID open_device(std::string* error) {
    SDL_AudioSpec want{}, have{};
    want.freq = rate_;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = 1024;  // about 23 ms: rides out a busy machine without dropouts
    want.callback = &SdlOutput::callback;
    want.userdata = this;
    // No changes allowed: SDL converts to whatever the device takes.
    SDL_AudioDeviceID dev = sdl().OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (dev == 0) {
      if (error) *error = sdl().GetError();
      return 0;
    }
    // What the device holds after a callback: the block just given plus
    // what remains of the one playing (half a block on average, as measured
    // at a PulseAudio sink's monitor); latency_frames() counts it down
    // through the block being played.
    device_latency_.store(have.samples + have.samples / 2, std::memory_order_relaxed);
    block_.store(have.samples, std::memory_order_relaxed);
    return dev;
  }

  // Watcher thread (follower.hpp).
  bool has_device() const override { return device_ != 0; }
  bool device_lost() const override { return sdl().GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED; }
  void close_device() override {
    sdl().CloseAudioDevice(device_);
    device_ = 0;
    latency_.store(0, std::memory_order_relaxed);  // what it held has been heard or is lost
  }
  bool idle() const override {
    return idle_frames_.load(std::memory_order_relaxed) >= kIdleClose.count() * rate_ / 1000;
  }
  void start_stand_in() override {
    auto silent = make_null_output("", rate_);
    std::string why;
    latency_.store(0, std::memory_order_relaxed);
    if (silent && silent->start(mixer_, &why)) {
      std::lock_guard lock(mu_);
      silent_ = std::move(silent);
    }
  }

  // Watcher thread: opens the default device and moves the rendering onto
  // it, stopping the silent output first. False when no device opens.
  bool resume_on_device() override {
    SDL_AudioDeviceID dev = open_device(nullptr);
    if (dev == 0) return false;
    std::unique_ptr<Output> silent;
    {
      std::lock_guard lock(mu_);
      silent = std::move(silent_);
    }
    if (silent) silent->stop();  // render() runs on its thread no more
    device_ = dev;
    idle_frames_.store(0, std::memory_order_relaxed);
    rendered_.store(0, std::memory_order_relaxed);
    latency_.store(device_latency_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    sdl().PauseAudioDevice(device_, 0);
    return true;
  }

  const int rate_;
  Mixer* mixer_ = nullptr;
  bool subsystem_ = false;
  // Control thread before the watcher starts and after it ends; the watcher
  // in between.
  SDL_AudioDeviceID device_ = 0;
  // Written when a device opens (control thread, then the watcher), read by
  // latency_frames() on any thread that asks for a position or a level.
  std::atomic<int> device_latency_{0};
  std::atomic<int> block_{0};
  std::atomic<int> latency_{0};
  std::atomic<int64_t> last_callback_ns_{0};  // when the device last took a block
  std::atomic<int64_t> rendered_{0};          // frames rendered on the current device
  std::atomic<uint64_t> blocks_{0};           // render_count()
  std::atomic<int64_t> idle_frames_{0};       // frames rendered since something last played
  // guarded by mu_ (wake() reaches the silent output from the control thread)
  std::mutex mu_;
  std::unique_ptr<Output> silent_;
  DeviceFollower follower_;
};

}  // namespace

std::unique_ptr<Output> make_sdl_output(const std::string&, int rate) { return std::make_unique<SdlOutput>(rate); }

}  // namespace tovarin::audio
