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
  // frames of the FFT) plus the longest look-back (max_lookback frames), so
  // a reader has room before the writer laps it.
  History(int channels, int rate, size_t max_lookback = 0);

  int channels() const { return channels_; }

  // ---- writer ----
  void write(const float* interleaved, size_t frames);
  void clear();

  // ---- readers ----
  // Copies `frames` frames (oldest first) into out: the latest ones, or with
  // a look-back those that end `lookback` frames before the latest (the
  // frames still on their way through the output). Frames never written
  // read as 0. frames <= max(1024, rate / 50); lookback beyond the room
  // made for it is cut to that room.
  void latest(float* out, size_t frames, size_t lookback = 0) const;
  // Frames written since clear().
  uint64_t written() const { return written_.load(std::memory_order_acquire); }

 private:
  int channels_;
  size_t capacity_;  // frames, a power of two
  size_t max_lookback_;
  std::unique_ptr<std::atomic<float>[]> ring_;
  std::atomic<uint64_t> written_{0};   // frames written since clear()
  std::atomic<uint64_t> reserved_{0};  // frames announced: written_ plus the piece being written
};

}  // namespace tovarin::audio::dsp
