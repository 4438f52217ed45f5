// The packet table of a raw elementary stream (MP3, MP2, ADTS AAC), built on
// a thread of its own.
//
// Raw streams carry no index: where a seek lands is only estimated by the
// demuxer, and the length counts what decodes. One demux-only pass over the
// file records every packet's byte position and exact timestamp, and sums
// the packets' samples. Once the demuxer's packets settle into a steady run
// (one format, back to back), the rest is read from frame headers alone
// (frame_scan.hpp): a two-hour MP3 in tens of milliseconds instead of a few
// hundred. Where the headers cannot tell what the demuxer would do, the
// demuxer goes on counting. The pass runs beside the decoder instead of
// inside the opening call: the decoder plays the file's start meanwhile, and
// whoever needs the answer (a length query, a seek, the decoder near the end
// of the file) waits for it.
//
// Threads: start() on the opening thread; ready() and wait() from any
// thread; the result never changes once published. The destructor cancels
// the pass (it ends within one packet read) and joins the thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/decode/frame_scan.hpp"

namespace tovarin::audio::decode {

struct PacketMark {
  int64_t pos, pts;  // byte position in the file, timestamp in the stream's time base
  bool operator==(const PacketMark&) const = default;
};

class PacketIndex {
 public:
  struct Params {
    std::string location;                    // the local file
    int stream = -1;                         // the audio stream's index
    int rate = 0;                            // frames per second
    int64_t first_frame_frames = 0;          // what the decoder gave for the first packet
    int64_t most = 0;                        // a length past this is not believed
    int64_t estimate = -1;                   // the length when the pass cannot finish
    bool mpeg_audio = false;                 // a LAME header may record the end padding
    bool frames_have_sync = false;           // MPEG audio, ADTS: a packet without a sync word is no frame
    FrameSyntax syntax = FrameSyntax::none;  // the demuxer's packets are these frames (mp3, aac)
    int64_t limit_ns = 3000000000;           // the pass gives up after this long
  };
  struct Result {
    std::vector<PacketMark> table;  // by position; empty when the pass did not finish
    int64_t length = 0;             // frames
    bool exact = false;             // counted (else the estimate)
    bool from_headers = false;      // the count's end was read from frame headers
  };

  PacketIndex() = default;
  PacketIndex(const PacketIndex&) = delete;
  PacketIndex& operator=(const PacketIndex&) = delete;
  ~PacketIndex();

  void start(Params p);
  // The result once published, else null; never waits.
  const Result* ready() const { return done_.load(std::memory_order_acquire) ? &result_ : nullptr; }
  // Waits until the result is published (the pass is bounded by limit_ns).
  const Result& wait() const;
  // Whether passes read frame headers where they can (the default), or let
  // the demuxer count every packet (to compare the two).
  static void use_frame_scan(bool on) { frame_scan_.store(on, std::memory_order_relaxed); }
  // Ends the pass early (its result is then the estimate); waiters return soon.
  void cancel() { cancel_.store(true, std::memory_order_relaxed); }

 private:
  void run();

  static inline std::atomic<bool> frame_scan_{true};

  Params params_;
  Result result_;  // written by the thread before done_
  std::atomic<bool> done_{false};
  std::atomic<bool> cancel_{false};
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  std::thread thread_;
};

}  // namespace tovarin::audio::decode
