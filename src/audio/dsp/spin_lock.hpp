// A tiny spinlock for handing small records between the control thread and
// the audio thread. The audio thread only ever calls try_lock(), so it never
// waits; the control thread holds it just long enough to copy a few words.
#pragma once

#include <atomic>
#include <thread>

namespace tovarin::audio {

class SpinLock {
 public:
  bool try_lock() noexcept { return !flag_.test_and_set(std::memory_order_acquire); }
  void lock() noexcept {
    while (flag_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  }
  void unlock() noexcept { flag_.clear(std::memory_order_release); }

 private:
  std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

// Settings written by the control thread and picked up by the audio thread
// at the start of a block, without the audio thread ever waiting.
template <class T>
class SettingsBox {
 public:
  // control thread
  void set(const T& value) {
    lock_.lock();
    value_ = value;
    dirty_.store(true, std::memory_order_release);
    lock_.unlock();
  }
  T get() const {
    lock_.lock();
    T copy = value_;
    lock_.unlock();
    return copy;
  }
  // audio thread: true when new settings were copied into out. When the
  // control thread holds the lock the update waits for the next block.
  bool take(T& out) {
    if (!dirty_.load(std::memory_order_acquire) || !lock_.try_lock()) return false;
    out = value_;
    dirty_.store(false, std::memory_order_relaxed);
    lock_.unlock();
    return true;
  }

 private:
  mutable SpinLock lock_;
  T value_{};
  std::atomic<bool> dirty_{false};
};

}  // namespace tovarin::audio
