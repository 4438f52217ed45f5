// The latest frames a channel has processed (after its effects, before
// volume and pan), kept for the FFT and the level meter.
//
// One writer (the audio thread, or the control thread while the audio thread
// is kept off the channel) and any number of readers on the control thread.
// Samples are relaxed atomics and the writer announces each piece before
// writing it (a seqlock without a lock), so a reader never blocks the
// writer; a reader whose window was overwritten while it copied copies
// again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace tovarin::audio::dsp {

class History {
 public:
  // Keeps at least twice the longest window asked of it (20 ms, or the 1024
  // frames of the FFT), so a reader has room before the writer laps it.
  History(int channels, int rate);

  int channels() const { return channels_; }

  // ---- writer ----
  void write(const float* interleaved, size_t frames);
  void clear();

  // ---- readers ----
  // Copies the latest `frames` frames (oldest first) into out; frames never
  // written read as 0. frames <= max(1024, rate / 50).
  void latest(float* out, size_t frames) const;

 private:
  int channels_;
  size_t capacity_;  // frames, a power of two
  std::unique_ptr<std::atomic<float>[]> ring_;
  std::atomic<uint64_t> written_{0};   // frames written since clear()
  std::atomic<uint64_t> reserved_{0};  // frames announced: written_ plus the piece being written
};

}  // namespace tovarin::audio::dsp
