// A decode thread that any synchronous decoder can run on.
//
// The thread owns the producing side of a FrameRing that the mixer drains,
// carries out seeks handed over by the control thread, sleeps while the ring
// is full (so a paused stream's decoder costs nothing) and ends on stop().
// The decoder only decodes: it puts its frames into a FrameSink, which
// writes them straight into the ring when the ring has room in one run and
// keeps them aside otherwise, until the mixer makes room. A decoder run by
// its reader writes straight into the reader's buffer while the ring is
// empty.
//
// Threads: the decoder's methods run on the decode thread (on the opening
// thread before start()); seek() and the waits on the control thread;
// read(), finished(), position() and wait_readable() on the mixer's (or a
// decoding channel's) thread. read() never blocks, allocates or waits for
// a lock another thread holds, except when the reader runs the decoder
// itself (start()'s in_reader, for a stream nobody mixes).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/decode/frame_ring.hpp"

namespace tovarin::audio::decode {

// Frames on their way from a decoder into the ring. Decode thread only.
class FrameSink {
 public:
  void set_channels(int channels) { channels_ = static_cast<size_t>(channels); }
  // Room for `frames` frames: straight in the reader's buffer when a reader
  // that runs the decoder waits there with that much room and nothing waits
  // before it, else straight in the ring when it has that much in one run
  // and nothing waits before it; fill it, then commit() how many were
  // filled (the room is lost at the next reserve()). `bounded`: the frames
  // came from integer samples, so they are finite and within full scale.
  float* reserve(size_t frames);
  void commit(size_t frames, bool bounded = false);
  void append(const float* frames, size_t count);
  // Frames reserve() would still place straight in a reader's buffer (0
  // when none waits): a decoder may split a larger piece there.
  size_t direct_room() const {
    return direct_ && held() == 0 && ring_->readable() == 0 ? direct_room_ - direct_got_ : 0;
  }
  // True while every frame given so far was bounded (see commit()). Any
  // thread: a reader that asks after taking frames from the ring gets an
  // answer that covers them.
  bool bounded() const { return !unbounded_.load(std::memory_order_acquire); }
  // Frames given but not yet in the ring.
  size_t held() const { return held_.size() / channels_ - held_off_; }
  // Forgets the frames not yet in the ring.
  void drop_held();
  // Forgets what was given, in the ring too: only while nobody reads the
  // ring (before the thread starts, or during a seek).
  void discard();

 private:
  friend class DecodeThread;
  // Moves held frames into the ring; true when none is left.
  bool flush();

  FrameRing* ring_ = nullptr;
  size_t channels_ = 1;
  std::vector<float> held_;
  size_t held_off_ = 0;     // frames of held_ already in the ring
  size_t reserved_at_ = 0;  // where in held_ the reserved room starts
  bool reserved_in_ring_ = false;
  // A reader's own buffer (a decoder run by its reader only): room for
  // direct_room_ frames at direct_, of which direct_got_ are filled.
  float* direct_ = nullptr;
  size_t direct_room_ = 0;
  size_t direct_got_ = 0;
  bool reserved_direct_ = false;
  // Set before the ring gets the first frame that was not bounded; never
  // cleared.
  std::atomic<bool> unbounded_{false};
};

class DecodeThread {
 public:
  // A synchronous decoder. Its calls end soon after stopping() turns true.
  class Decoder {
   public:
    // Decodes what comes next into sink; false at the end, nothing given.
    virtual bool decode(FrameSink& sink) = 0;
    // Positions at frame `target` of the stream, giving sink the frames
    // from there on (the ring was emptied first); false when none follow.
    virtual bool seek(int64_t target, FrameSink& sink) = 0;
    // Everything given so far is in the ring (the decoder may count time
    // spent waiting for room as nobody's fault).
    virtual void delivered() {}

   protected:
    ~Decoder() = default;
  };

  DecodeThread() = default;
  ~DecodeThread() { stop(); }
  DecodeThread(const DecodeThread&) = delete;
  DecodeThread& operator=(const DecodeThread&) = delete;

  // Before start(): where the opening decodes its first frames.
  FrameSink& sink() { return sink_; }
  bool bounded() const { return sink_.bounded(); }
  // Starts the thread on a ring of at least ring_frames frames of the
  // sink's channels; frames already given to the sink are read first.
  // in_reader: no thread; read() and seek() run the decoder on the caller's
  // thread as they need frames (a stream only its caller pulls, where a
  // second thread would only add hand-offs).
  void start(Decoder& decoder, size_t ring_frames, bool in_reader = false);
  // Raises stopping() and joins the thread; safe to call again.
  void stop();
  bool stopping() const { return stop_.load(std::memory_order_relaxed); }
  // Sleeps up to `wait` unless stop() is called; true when stopping.
  bool sleep_unless_stopped(std::chrono::steady_clock::duration wait);

  // ---- control thread ----
  // Hands a seek to the thread and waits for it (at most a second; a slower
  // seek completes on its own and read() delivers nothing until then).
  void seek(int64_t frame);

  // ---- reading thread ----
  size_t read(float* out, size_t frames);
  bool finished() const;
  int64_t position() const { return position_.load(std::memory_order_acquire); }
  // Waits until `frames` frames can be read (or half the ring, or the end,
  // a seek or a stop), at most `ms`.
  void wait_readable(size_t frames, int ms);

 private:
  void run(Decoder& decoder);
  void do_seek(Decoder& decoder, int64_t target);
  bool deliver(Decoder& decoder);  // flush, telling the decoder when all is in
  bool seeking() const {
    return seek_done_.load(std::memory_order_acquire) != seek_requested_.load(std::memory_order_acquire);
  }
  void wake_reader();
  void decode_until_readable(size_t frames);  // in_reader only
  size_t read_in_reader(float* out, size_t frames);

  Decoder* in_reader_ = nullptr;  // set when the reader runs the decoder

  FrameSink sink_;
  std::unique_ptr<FrameRing> ring_;
  std::atomic<int64_t> position_{0};
  std::atomic<bool> done_{false};             // the decoder will give nothing more
  std::atomic<bool> decoder_waiting_{false};  // the decoder sleeps for room in the ring
  std::atomic<size_t> reader_wants_{0};       // a reader sleeps until this many frames are in
  std::atomic<bool> stop_{false};

  // Seek hand-over; the waits of both threads.
  std::mutex mu_;
  std::condition_variable cv_;         // the decode thread and seek() wait here
  std::condition_variable reader_cv_;  // wait_readable() waits here
  int64_t seek_target_ = 0;
  // Atomic as well, for read(): while they differ the decoder owns the ring.
  std::atomic<uint64_t> seek_requested_{0};
  std::atomic<uint64_t> seek_done_{0};

  std::thread thread_;
};

// ---- test hook (not exported) ----
// While held, decode threads wait before carrying out a seek, as a stalled
// decoder would.
void testing_hold_seeks(bool hold);

}  // namespace tovarin::audio::decode
