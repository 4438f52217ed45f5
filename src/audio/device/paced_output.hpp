// Base of the outputs that have no device clock (null, wav): a thread that
// renders 10 ms blocks and sleeps until each block's time has come, so it
// sleeps rather than spins while nothing plays. When it falls behind by more
// than 200 ms (a stalled machine) it starts counting afresh instead of
// rushing to catch up. An output that keeps no timeline of its own (null)
// may idle: while nothing plays it sleeps until wake() brings it back, at
// once.
//
// For tests, pacing can be switched to manual before the output starts:
// then a block is rendered only when run_blocks() asks for it, which makes
// the rendered sound independent of the machine's load and lets a test play
// faster than real time. Real time stays the behaviour otherwise.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/device/output.hpp"

namespace tovarin::audio {

class PacedOutput : public Output {
 public:
  explicit PacedOutput(int rate, bool may_idle = false);
  ~PacedOutput() override;

  bool start(Mixer* mixer, std::string* error) override;
  void stop() override;
  int latency_frames() const override { return 0; }
  void wake() override;

 protected:
  // Output thread: one rendered block.
  virtual void consume(const float* stereo, size_t frames) = 0;
  // Control thread, from stop() after the thread has ended.
  virtual void finish() {}
  size_t block_frames() const { return block_; }

 private:
  void run();

  const int rate_;
  const size_t block_;
  const bool may_idle_;
  Mixer* mixer_ = nullptr;
  std::thread thread_;
  std::vector<float> buf_;  // output thread
  // guarded by mu_
  std::mutex mu_;
  std::condition_variable cv_;
  bool quit_ = false;
  bool manual_ = false;
  long credits_ = 0;       // blocks asked for in manual mode
  long rendered_ = 0;      // blocks rendered
  bool woken_ = false;     // a channel started playing since the last block
  bool sleeping_ = false;  // idle until woken
  std::condition_variable done_cv_;

  friend void testing_set_manual_pacing(bool);
  friend bool testing_run_blocks(long);
  friend bool testing_output_sleeps();
};

// ---- test hooks (not exported) ----
// Manual pacing for outputs started after this call.
void testing_set_manual_pacing(bool manual);
// Renders n more blocks of 10 ms on the current paced output and waits for
// them (bounded); false when no paced output runs.
bool testing_run_blocks(long n);
// Whether the current paced output sleeps for want of anything to play.
bool testing_output_sleeps();

}  // namespace tovarin::audio
