// The mixer: sums every playing channel into the output's stereo float
// blocks.
//
// Threads and the handoff. render() runs on the output's thread (the audio
// thread). It takes no lock, allocates nothing and does no I/O: it reads the
// published channel list through an atomic pointer and each channel's state
// through atomics. The control thread changes the list by publishing a new
// list (copy, then atomic exchange) under its own edit mutex, which render()
// never touches.
//
// Reclamation. render() bumps a sequence counter when it starts a block (odd)
// and when it ends it (even). After publishing a change, synchronize() waits
// until any block that may have seen the old state has ended: at most one
// block (about 10 ms), and not at all when no block is running. Only then
// does the control thread free a removed channel, an old effect chain or a
// removed effect, or touch a channel's audio-thread state (run_excluded).
// So the audio thread never touches freed memory, and freeing happens on the
// control thread.
//
// Output levels are clipped to -1..+1 after summing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tovarin::audio {

class Channel;

class Mixer {
 public:
  explicit Mixer(int rate);
  ~Mixer();

  int rate() const { return rate_; }

  // ---- audio thread ----
  // Writes `frames` stereo interleaved frames into out.
  // Returns whether any channel was playing during the block.
  bool render(float* out, size_t frames);

  // ---- control thread ----
  void add(Channel* channel);
  // Once this returns the audio thread no longer touches the channel.
  void remove(Channel* channel);
  // Waits until no block that started before this call is still running.
  void synchronize();
  // Runs fn while the audio thread skips the channel (it plays silence for
  // that moment), so fn may touch the channel's audio-thread state. Calls
  // for different channels may run at the same time.
  template <class Fn>
  auto run_excluded(Channel* channel, Fn&& fn) {
    struct Guard {
      Mixer* m;
      Channel* c;
      ~Guard() { m->set_excluded(c, false); }
    } guard{this, channel};
    set_excluded(channel, true);
    synchronize();
    return fn();
  }
  // Share of real time spent in render(), percent, smoothed over ~0.5 s.
  float cpu() const { return cpu_.load(std::memory_order_relaxed); }
  // True (once) when a channel ended since the last call.
  bool take_ended() { return ended_flag_.exchange(false, std::memory_order_acq_rel); }

 private:
  using List = std::vector<Channel*>;
  void publish(List next);
  void set_excluded(Channel* channel, bool excluded);

  const int rate_;
  // shared with the audio thread
  std::atomic<const List*> list_;
  std::atomic<uint64_t> seq_{0};
  std::atomic<float> cpu_{0.f};
  std::atomic<bool> ended_flag_{false};
  // control thread, under edit_mu_
  std::mutex edit_mu_;
  std::unique_ptr<List> current_;
};

}  // namespace tovarin::audio
