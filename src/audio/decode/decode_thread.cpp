// The decoder thread of a source: it owns the ring's producing side, carries
// out seeks handed over by the control thread, and ends on stop. read() and
// finished() are the mixer's side.
#include "audio/decode/ffmpeg_source.hpp"

#include <chrono>
#include <thread>

namespace tovarin::audio::decode {

namespace {

// A seek waits this long for the decoder; a slower one completes on its own.
constexpr int64_t kSeekWaitMs = 1000;

std::atomic<bool> g_hold_seeks{false};

}  // namespace

bool FfmpegSource::push_pending() {
  const size_t total = pending_.size() / static_cast<size_t>(info_.channels);
  if (pending_off_ < total) {
    pending_off_ += ring_->push(pending_.data() + pending_off_ * info_.channels, total - pending_off_);
  }
  if (pending_off_ >= total) {
    pending_.clear();
    pending_off_ = 0;
    // The station's silence is counted from when more audio is wanted: time
    // spent waiting for room in the ring (a paused stream) is not its fault.
    if (req_.is_url) last_audio_ns_ = now_ns();
    return true;
  }
  return false;
}

void testing_hold_seeks(bool hold) { g_hold_seeks.store(hold); }

void FfmpegSource::do_seek(int64_t target) {
  while (g_hold_seeks.load(std::memory_order_relaxed) && !stop_)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ring_->reset();
  pending_.clear();
  pending_off_ = 0;
  done_.store(false, std::memory_order_relaxed);
  {
    // Where the seek lands, its part's format and tags are marked afresh.
    std::lock_guard lk(tags_mu_);
    marks_.clear();
  }
  decoded_rate_ = decoded_channels_ = 0;
  converter_->reset();
  // A demuxer that has read near or to the end of the file may stamp the
  // packets after a seek wrongly (seen with Ogg): start from a fresh one.
  if ((!dec_ || input_eof_ || reopen_to_seek_) && !rewind()) {
    input_eof_ = true;
    return;
  }
  int64_t runup = runup_;
  for (int attempt = 0;; ++attempt) {
    const bool positioned = attempt < 3 && position_before(target - runup);
    if (!positioned) {
      // From the very start the running count is exact whatever the timestamps say.
      if (!rewind()) {
        input_eof_ = true;
        return;
      }
    }
    skip_until_ = target;
    overshoot_ = false;
    const int r = next_frame();
    if (overshoot_ && positioned) {
      // The demuxer landed after the target: back off further.
      runup = runup * 4 + info_.rate;
      pending_.clear();
      continue;
    }
    if (r < 0) input_eof_ = true;
    return;
  }
}

void FfmpegSource::run() {
  bool ended = false;
  uint64_t handled = 0;
  for (;;) {
    int64_t target = -1;
    uint64_t req = 0;
    {
      std::unique_lock lk(mu_);
      if (stop_) break;
      if (seek_requested_ != handled) {
        req = seek_requested_;
        target = seek_target_;
      }
    }
    if (target >= 0) {
      do_seek(target);
      ended = input_eof_ && pending_.empty();
      push_pending();
      handled = req;
      // Everything read() relies on is in place before the seek counts as done.
      position_.store(target, std::memory_order_relaxed);
      if (ended) done_.store(true, std::memory_order_release);
      {
        std::lock_guard lk(mu_);
        seek_done_.store(req, std::memory_order_release);
      }
      cv_.notify_all();
      continue;
    }
    if (!ended && pending_.empty()) {
      if (next_frame() <= 0) {
        ended = true;
        done_.store(true, std::memory_order_release);
      }
      continue;
    }
    if (!pending_.empty() && push_pending()) continue;
    // Ring full or nothing left: sleep until the mixer makes room, a seek or a stop.
    std::unique_lock lk(mu_);
    if (!ended) decoder_waiting_.store(true, std::memory_order_release);
    cv_.wait_for(lk, std::chrono::milliseconds(ended ? 200 : 10),
                 [&] {
                   return stop_.load() || seek_requested_ != handled ||
                          (!ended && ring_->readable() < ring_->capacity() / 2);
                 });
    decoder_waiting_.store(false, std::memory_order_relaxed);
  }
}

bool FfmpegSource::seek_to(int64_t frame) {
  if (info_.is_url || frame < 0 || (info_.length_frames >= 0 && frame > info_.length_frames)) return false;
  std::unique_lock lk(mu_);
  const uint64_t req = ++seek_requested_;
  seek_target_ = frame;
  cv_.notify_all();
  // A decoder still busy after the wait completes the seek later; read()
  // delivers nothing until then, so the next frame read is `frame` either way.
  cv_.wait_for(lk, std::chrono::milliseconds(kSeekWaitMs), [&] { return seek_done_ >= req || stop_; });
  position_.store(frame, std::memory_order_release);
  return true;
}

bool FfmpegSource::seeking() const {
  return seek_done_.load(std::memory_order_acquire) != seek_requested_.load(std::memory_order_acquire);
}

size_t FfmpegSource::read(float* out, size_t frames) {
  if (seeking()) return 0;  // the decoder is resetting the ring
  const size_t n = ring_->pop(out, frames);
  position_.fetch_add(static_cast<int64_t>(n), std::memory_order_acq_rel);
  // Wake a decoder that waits for room once half the ring is free. Signalling
  // a condition variable takes no lock of ours and never blocks.
  if (decoder_waiting_.load(std::memory_order_relaxed) && ring_->readable() < ring_->capacity() / 2 &&
      decoder_waiting_.exchange(false, std::memory_order_acq_rel))
    cv_.notify_one();
  return n;
}

bool FfmpegSource::finished() const {
  return !seeking() && done_.load(std::memory_order_acquire) && ring_->readable() == 0;
}

}  // namespace tovarin::audio::decode
