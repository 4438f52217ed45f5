#include "audio/decode/decode_thread.hpp"
#include "audio/api/fault.hpp"

#include <algorithm>
#include <cstring>

#include "platform/platform.hpp"

namespace tovarin::audio::decode {

namespace {

// A seek waits this long for the decoder; a slower one completes on its own.
constexpr int64_t kSeekWaitMs = 1000;

std::atomic<bool> g_hold_seeks{false};

}  // namespace

void testing_hold_seeks(bool hold) { g_hold_seeks.store(hold); }

// ---- FrameSink ----

float* FrameSink::reserve(size_t frames) {
  if (frames <= direct_room()) {
    reserved_direct_ = true;
    return direct_ + direct_got_ * channels_;
  }
  reserved_direct_ = false;
  if (ring_ && held() == 0) {
    size_t room = 0;
    float* at = ring_->write_span(&room);
    if (room >= frames) {
      reserved_in_ring_ = true;
      return at;
    }
  }
  reserved_in_ring_ = false;
  reserved_at_ = held_.size();
  held_.resize(reserved_at_ + frames * channels_);
  return held_.data() + reserved_at_;
}

void FrameSink::commit(size_t frames, bool bounded) {
  if (!bounded && frames) unbounded_.store(true, std::memory_order_relaxed);  // published by the ring's commit or push
  if (reserved_direct_) {
    direct_got_ += frames;
    reserved_direct_ = false;
  } else if (reserved_in_ring_) {
    ring_->commit(frames);
    reserved_in_ring_ = false;
  } else {
    held_.resize(reserved_at_ + frames * channels_);
  }
}

void FrameSink::append(const float* frames, size_t count) {
  if (count == 0) return;
  std::memcpy(reserve(count), frames, count * channels_ * sizeof(float));
  commit(count);
}

void FrameSink::drop_held() {
  held_.clear();
  held_off_ = 0;
  reserved_in_ring_ = false;
  reserved_direct_ = false;
}

void FrameSink::discard() {
  drop_held();
  if (ring_) ring_->reset();
}

bool FrameSink::flush() {
  const size_t total = held_.size() / channels_;
  if (held_off_ < total && ring_) held_off_ += ring_->push(held_.data() + held_off_ * channels_, total - held_off_);
  if (held_off_ < total) return false;
  held_.clear();
  held_off_ = 0;
  return true;
}

// ---- DecodeThread ----

void DecodeThread::start(Decoder& decoder, size_t ring_frames, bool in_reader) {
  ring_ = std::make_unique<FrameRing>(ring_frames, static_cast<int>(sink_.channels_));
  sink_.ring_ = ring_.get();
  sink_.flush();
  if (in_reader) {
    in_reader_ = &decoder;
    return;
  }
  fault::thread_start();
  thread_ = std::thread([this, &decoder] { run(decoder); });
  platform::name_thread(thread_, "tovarin-decode");
}

void DecodeThread::stop() {
  {
    std::lock_guard lk(mu_);
    stop_.store(true);
  }
  cv_.notify_all();
  reader_cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool DecodeThread::sleep_unless_stopped(std::chrono::steady_clock::duration wait) {
  std::unique_lock lk(mu_);
  return cv_.wait_for(lk, wait, [&] { return stop_.load(); });
}

bool DecodeThread::deliver(Decoder& decoder) {
  if (!sink_.flush()) return false;
  decoder.delivered();
  return true;
}

void DecodeThread::wake_reader() {
  // The reader announces itself before it looks at the ring, and we look
  // for it after filling the ring: one of the two sees the other.
  std::atomic_thread_fence(std::memory_order_seq_cst);
  const size_t wants = reader_wants_.load(std::memory_order_relaxed);
  if (wants == 0 || (ring_->readable() < wants && !done_.load(std::memory_order_relaxed))) return;
  { std::lock_guard lk(mu_); }
  reader_cv_.notify_all();
}

void DecodeThread::do_seek(Decoder& decoder, int64_t target) {
  while (g_hold_seeks.load(std::memory_order_relaxed) && !stop_)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  sink_.discard();
  done_.store(false, std::memory_order_relaxed);
  const bool more = decoder.seek(target, sink_);
  const bool ended = !more && sink_.held() == 0;
  deliver(decoder);
  // Everything read() relies on is in place before the seek counts as done.
  position_.store(target, std::memory_order_relaxed);
  if (ended) done_.store(true, std::memory_order_release);
}

void DecodeThread::run(Decoder& decoder) {
  platform::use_default_float_environment();
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
      do_seek(decoder, target);
      ended = done_.load(std::memory_order_relaxed);
      handled = req;
      {
        std::lock_guard lk(mu_);
        seek_done_.store(req, std::memory_order_release);
      }
      cv_.notify_all();
      reader_cv_.notify_all();
      continue;
    }
    if (!ended && sink_.held() == 0) {
      if (!decoder.decode(sink_)) {
        ended = true;
        done_.store(true, std::memory_order_release);
      }
      if (sink_.held() == 0) decoder.delivered();
      wake_reader();
      continue;
    }
    if (sink_.held() != 0 && deliver(decoder)) {
      wake_reader();
      continue;
    }
    wake_reader();
    // Ring full or nothing left: sleep until the reader makes room, a seek or
    // a stop. Seeks and stops are raised under mu_ and read() takes mu_ to
    // wake us, so no wake-up is lost; the second's limit only backs that up.
    std::unique_lock lk(mu_);
    if (!ended) decoder_waiting_.store(true, std::memory_order_seq_cst);
    const auto woken = [&] {
      return stop_.load() || seek_requested_ != handled || (!ended && ring_->readable() < ring_->capacity() / 2);
    };
    if (ended)
      cv_.wait(lk, woken);
    else
      cv_.wait_for(lk, std::chrono::seconds(1), woken);
    decoder_waiting_.store(false, std::memory_order_relaxed);
  }
}

void DecodeThread::seek(int64_t frame) {
  if (in_reader_) {
    do_seek(*in_reader_, frame);
    position_.store(frame, std::memory_order_release);
    return;
  }
  std::unique_lock lk(mu_);
  const uint64_t req = ++seek_requested_;
  seek_target_ = frame;
  cv_.notify_all();
  // A decoder still busy after the wait completes the seek later; read()
  // delivers nothing until then, so the next frame read is `frame` either way.
  cv_.wait_for(lk, std::chrono::milliseconds(kSeekWaitMs), [&] { return seek_done_ >= req || stop_; });
  position_.store(frame, std::memory_order_release);
}

void DecodeThread::decode_until_readable(size_t frames) {
  frames = std::min(frames, ring_->capacity());
  while (!stop_ && !done_.load(std::memory_order_relaxed) && ring_->readable() < frames) {
    if (sink_.held() != 0) {
      if (!deliver(*in_reader_)) return;  // the ring is full
    } else if (!in_reader_->decode(sink_)) {
      done_.store(true, std::memory_order_release);
    }
  }
}

size_t DecodeThread::read_in_reader(float* out, size_t frames) {
  size_t n = ring_->pop(out, frames);
  if (n < frames && sink_.held() == 0) {
    // The ring is empty: frames the decoder gives while they fit go straight
    // into out, not through the ring. The first that does not fit goes to
    // the ring, and so does all after it, which keeps them in order. The
    // empty ring starts over at its beginning (no other thread reads it),
    // so what does not fit goes in one run.
    ring_->reset();
    sink_.direct_ = out + n * sink_.channels_;
    sink_.direct_room_ = frames - n;
    sink_.direct_got_ = 0;
    while (!stop_ && !done_.load(std::memory_order_relaxed) && sink_.direct_got_ < sink_.direct_room_ &&
           sink_.held() == 0 && ring_->readable() == 0) {
      if (!in_reader_->decode(sink_)) done_.store(true, std::memory_order_release);
    }
    n += sink_.direct_got_;
    sink_.direct_ = nullptr;
  }
  if (n < frames) {
    decode_until_readable(frames - n);
    n += ring_->pop(out + n * sink_.channels_, frames - n);
  }
  position_.fetch_add(static_cast<int64_t>(n), std::memory_order_acq_rel);
  return n;
}

size_t DecodeThread::read(float* out, size_t frames) {
  if (in_reader_) return read_in_reader(out, frames);
  if (seeking()) return 0;  // the decoder is resetting the ring
  const size_t n = ring_->pop(out, frames);
  position_.fetch_add(static_cast<int64_t>(n), std::memory_order_acq_rel);
  // Wake a decoder that waits for room once half the ring is free. Taking
  // mu_ for a moment means the decoder is either asleep already or has not
  // yet looked at the ring, so the wake-up is not lost; the reader only tries
  // the lock, and when the decoder holds it the next read tries again.
  if (decoder_waiting_.load(std::memory_order_seq_cst) && ring_->readable() < ring_->capacity() / 2 && mu_.try_lock()) {
    const bool waiting = decoder_waiting_.exchange(false, std::memory_order_acq_rel);
    mu_.unlock();
    if (waiting) cv_.notify_one();
  }
  return n;
}

bool DecodeThread::finished() const {
  return !seeking() && done_.load(std::memory_order_acquire) && ring_->readable() == 0;
}

void DecodeThread::wait_readable(size_t frames, int ms) {
  if (in_reader_) return;  // read() decodes what it needs
  const size_t wants = std::clamp<size_t>(frames, 1, ring_->capacity() / 2);
  std::unique_lock lk(mu_);
  reader_wants_.store(wants, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  reader_cv_.wait_for(lk, std::chrono::milliseconds(ms), [&] {
    return stop_.load() || seeking() || done_.load(std::memory_order_acquire) || ring_->readable() >= wants;
  });
  reader_wants_.store(0, std::memory_order_relaxed);
}

}  // namespace tovarin::audio::decode
