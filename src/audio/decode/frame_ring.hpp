// Single-producer single-consumer ring of interleaved float frames.
//
// The decoder thread pushes (or decodes straight into write_span()), the
// mixer thread pops; neither ever blocks, allocates or locks. reset() empties the ring and may only run while
// neither side is active (the owner stops reads around a seek).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <vector>

namespace tovarin::audio::decode {

class FrameRing {
 public:
  // Holds at least `frames` frames of `channels` floats each.
  FrameRing(size_t frames, int channels) : channels_(static_cast<size_t>(channels)) {
    size_t cap = 1;
    while (cap < frames) cap <<= 1;
    capacity_ = cap;
    data_.assign(capacity_ * channels_, 0.0f);
  }

  size_t capacity() const { return capacity_; }
  size_t readable() const { return write_.load(std::memory_order_acquire) - read_.load(std::memory_order_acquire); }
  size_t writable() const { return capacity_ - readable(); }

  // ---- producer ----
  size_t push(const float* in, size_t frames) {
    const size_t w = write_.load(std::memory_order_relaxed);
    const size_t r = read_.load(std::memory_order_acquire);
    const size_t n = std::min(frames, capacity_ - (w - r));
    copy_in(w, in, n);
    write_.store(w + n, std::memory_order_release);
    return n;
  }

  // Where the next frames go without wrapping: *frames of room in one run
  // (0 when full). Filled frames become readable with commit().
  float* write_span(size_t* frames) {
    const size_t w = write_.load(std::memory_order_relaxed);
    const size_t i = w & (capacity_ - 1);
    *frames = std::min(capacity_ - (w - read_.load(std::memory_order_acquire)), capacity_ - i);
    return &data_[i * channels_];
  }
  void commit(size_t frames) {
    write_.store(write_.load(std::memory_order_relaxed) + frames, std::memory_order_release);
  }

  // ---- consumer ----
  size_t pop(float* out, size_t frames) {
    const size_t r = read_.load(std::memory_order_relaxed);
    const size_t w = write_.load(std::memory_order_acquire);
    const size_t n = std::min(frames, w - r);
    copy_out(r, out, n);
    read_.store(r + n, std::memory_order_release);
    return n;
  }

  // ---- quiescent only ----
  void reset() {
    read_.store(0, std::memory_order_relaxed);
    write_.store(0, std::memory_order_release);
  }

 private:
  void copy_in(size_t at, const float* in, size_t n) {
    const size_t i = at & (capacity_ - 1);
    const size_t first = std::min(n, capacity_ - i);
    std::memcpy(&data_[i * channels_], in, first * channels_ * sizeof(float));
    if (n > first) std::memcpy(&data_[0], in + first * channels_, (n - first) * channels_ * sizeof(float));
  }
  void copy_out(size_t at, float* out, size_t n) const {
    const size_t i = at & (capacity_ - 1);
    const size_t first = std::min(n, capacity_ - i);
    std::memcpy(out, &data_[i * channels_], first * channels_ * sizeof(float));
    if (n > first) std::memcpy(out + first * channels_, &data_[0], (n - first) * channels_ * sizeof(float));
  }

  size_t channels_;
  size_t capacity_ = 0;
  std::vector<float> data_;
  // Counters grow without wrapping in practice (64-bit) and index modulo capacity.
  alignas(64) std::atomic<size_t> write_{0};
  alignas(64) std::atomic<size_t> read_{0};
};

}  // namespace tovarin::audio::decode
