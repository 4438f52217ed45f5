// Outputs: where the mixer's sound goes.
//
// An output owns the audio thread: once start() succeeds it calls
// Mixer::render() for stereo float blocks at the mixer's rate, from its own
// thread, until stop() returns; after that render() is never called again.
// start() and stop() run on the control thread. latency_frames() is how many
// output frames are rendered but not yet heard (0 for outputs that consume
// a block as it is rendered).
//
// Outputs are chosen by name from TOVARIN_AUDIO_OUTPUT: "auto" (SDL2's
// default device, else the silent output), "null" (silent, paced in real
// time), "wav:PATH" (a 16-bit WAV file of what is heard, paced in real
// time). The SDL output follows the default device: when its device is lost
// it renders on the new default device, or silently in real time until a
// device opens again (sdl_output.cpp); the audio thread may then change, but
// render() still never runs on two threads at once. Adding an output is one file with a factory and one entry in the
// table of output.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace tovarin::audio {

class Mixer;

class Output {
 public:
  virtual ~Output() = default;
  virtual bool start(Mixer* mixer, std::string* error) = 0;
  virtual void stop() = 0;
  virtual int latency_frames() const = 0;
  // Blocks rendered, twice: odd while one is being rendered. An output whose
  // latency moves with its blocks counts them, the others keep 0.
  virtual uint64_t render_count() const { return 0; }
  // fn(latency_frames()), where fn also reads what the mixer has rendered (a
  // channel's frames): both from the same moment between two blocks, read
  // again when a block overlapped the reading (else a position could run a
  // block ahead for a moment, and then step back).
  template <class Fn>
  auto with_latency(Fn fn) const {
    for (int tries = 0;; ++tries) {
      const uint64_t before = render_count();
      if ((before & 1) && tries < kConsistentTries) {
        std::this_thread::yield();
        continue;
      }
      auto result = fn(latency_frames());
      std::atomic_thread_fence(std::memory_order_acquire);
      if (render_count() == before || tries >= kConsistentTries) return result;
    }
  }
  // Control thread: a channel has started playing. An output that idles
  // while nothing plays renders again at once.
  virtual void wake() {}

 private:
  static constexpr int kConsistentTries = 10000;  // reached only by a stalled audio thread
};

// Opens the output named by choice ("auto", "null", "wav:PATH"); null with a
// message when it cannot ("auto" also when the machine has no sound system).
std::unique_ptr<Output> open_output(const std::string& choice, int rate, std::string* error);
// Whether a sound server or sound card is there for SDL to open (or an SDL
// driver was chosen explicitly with SDL_AUDIODRIVER).
bool sound_system_present();

// Factories, one per output file. They only check their argument; start()
// opens the device.
std::unique_ptr<Output> make_null_output(const std::string& arg, int rate);
std::unique_ptr<Output> make_wav_output(const std::string& arg, int rate);
std::unique_ptr<Output> make_sdl_output(const std::string& arg, int rate);

}  // namespace tovarin::audio
