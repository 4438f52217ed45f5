// The rhythm of a retry loop, shared by whatever waits for something to come
// back: the default device (follower.hpp), a live stream that dropped.
#pragma once

#include <algorithm>
#include <chrono>

namespace tovarin::audio {

// The waits of a retry loop: the first, then each twice the one before, up
// to the longest, so that something that stays away costs little (and a
// noisy driver or server hears little from us).
class Backoff {
 public:
  using Duration = std::chrono::steady_clock::duration;
  Backoff(Duration first, Duration longest) : first_(first), longest_(longest), wait_(first) {}
  // Starts again from the first wait.
  void reset() { wait_ = first_; }
  // The wait before the next try; the one after it is longer.
  Duration next() {
    const Duration wait = wait_;
    wait_ = std::min<Duration>(2 * wait_, longest_);
    return wait;
  }

 private:
  Duration first_, longest_, wait_;
};

}  // namespace tovarin::audio
