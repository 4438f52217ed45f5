#include "audio/dsp/history.hpp"

#include <algorithm>

namespace tovarin::audio::dsp {

namespace {
// Stores n samples one by one (readers check afterwards whether their copy
// raced with a store), four to a step: the stores cannot be merged, so the
// loop's own work is what is left to cut.
void store_run(std::atomic<float>* to, const float* from, size_t n) {
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    to[i].store(from[i], std::memory_order_relaxed);
    to[i + 1].store(from[i + 1], std::memory_order_relaxed);
    to[i + 2].store(from[i + 2], std::memory_order_relaxed);
    to[i + 3].store(from[i + 3], std::memory_order_relaxed);
  }
  for (; i < n; ++i) to[i].store(from[i], std::memory_order_relaxed);
}

size_t capacity_for(int rate, size_t lookback) {
  size_t want = 2 * (std::max<size_t>(1024, static_cast<size_t>(std::max(rate, 0)) / 50 + 1) + lookback);
  size_t cap = 1;
  while (cap < want) cap <<= 1;
  return cap;
}
}  // namespace

History::History(int channels, int rate, size_t max_lookback)
    : channels_(channels),
      capacity_(capacity_for(rate, max_lookback)),
      max_lookback_(max_lookback),
      ring_(new std::atomic<float>[capacity_ * channels]) {
  for (size_t i = 0; i < capacity_ * channels_; ++i) ring_[i].store(0.f, std::memory_order_relaxed);
}

void History::write(const float* x, size_t frames) {
  // In pieces of a quarter ring, each announced before it is written, so a
  // reader can tell whether its window was overwritten while it copied.
  const size_t ch = channels_;
  if (frames > capacity_) {
    // Only the last capacity_ frames can stay. All of it is announced at
    // once, so no reader takes the skipped frames' slots for written ones.
    const uint64_t w = written_.load(std::memory_order_relaxed);
    reserved_.store(w + frames, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    const float* in = x + (frames - capacity_) * ch;
    const size_t at = (w + frames) & (capacity_ - 1);  // where the kept frames start
    store_run(&ring_[at * ch], in, (capacity_ - at) * ch);
    store_run(&ring_[0], in + (capacity_ - at) * ch, at * ch);
    written_.store(w + frames, std::memory_order_release);
    return;
  }
  const size_t piece = capacity_ / 4;
  for (size_t done = 0; done < frames;) {
    const size_t n = std::min(piece, frames - done);
    const uint64_t w = written_.load(std::memory_order_relaxed);
    reserved_.store(w + n, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    // In at most two runs (before and after the ring's end), sample by sample.
    const float* in = x + done * ch;
    const size_t at = w & (capacity_ - 1);
    const size_t first = std::min(n, capacity_ - at);
    store_run(&ring_[at * ch], in, first * ch);
    store_run(&ring_[0], in + first * ch, (n - first) * ch);
    written_.store(w + n, std::memory_order_release);
    done += n;
  }
}

void History::clear() {
  reserved_.store(0, std::memory_order_relaxed);
  written_.store(0, std::memory_order_release);
}

void History::latest(float* out, size_t frames, size_t lookback) const {
  const size_t ch = channels_;
  frames = std::min(frames, capacity_ / 2 - max_lookback_);
  lookback = std::min(lookback, max_lookback_);
  for (int attempt = 0; attempt < 8; ++attempt) {
    const uint64_t newest = written_.load(std::memory_order_acquire);
    const uint64_t end = newest > lookback ? newest - lookback : 0;  // one past the window's last frame
    const uint64_t have = std::min<uint64_t>(end, frames);
    const size_t missing = frames - have;
    std::fill(out, out + missing * ch, 0.f);
    for (uint64_t i = 0; i < have; ++i) {
      size_t slot = ((end - have + i) & (capacity_ - 1)) * ch;
      for (size_t c = 0; c < ch; ++c) out[(missing + i) * ch + c] = ring_[slot + c].load(std::memory_order_relaxed);
    }
    // Did the writer reach into the window while we copied?
    std::atomic_thread_fence(std::memory_order_acquire);
    const uint64_t reserved = reserved_.load(std::memory_order_relaxed);
    if (reserved >= end && reserved - end <= capacity_ - frames) return;
  }
}

}  // namespace tovarin::audio::dsp
