// One playing voice of the mixer: a Source, its effects, its history, its
// resampler to the output rate, and its volume and pan.
//
// Threads. The control thread creates a Channel, changes its transport
// state, attributes and effect chain through atomics, and reads positions,
// levels and history. The audio thread calls mix_into() while the channel is
// in the mixer's list and playing. Work that must touch the audio thread's
// state (seeking, restarting) runs while the mixer keeps the audio thread
// off the channel (Mixer::run_excluded), never concurrently with mix_into().
//
// Sound path in mix_into(): frames at the source's rate and channel count ->
// sanitised (non-finite samples become 0, see dsp::sanitize) -> effects by
// priority -> history -> mono doubled to both sides -> resampled
// (libswresample, only when the rate differs or there are more than two
// channels, which it also mixes down) -> volume and pan, each change ramped
// linearly over 5 ms -> added into the output block.
//
// Pan law: balance. pan p in -1..+1: left gain = volume x min(1, 1 - p),
// right gain = volume x min(1, 1 + p). Centre leaves both sides as they
// are; full left (-1) silences the right side and keeps the left untouched.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/dsp/effect.hpp"
#include "audio/dsp/history.hpp"
#include "audio/source.hpp"

struct SwrContext;

namespace tovarin::audio {

enum class PlayState : int { Stopped = 0, Playing = 1, Paused = 3 };

// An effect chain as the audio thread sees it: immutable once published.
struct FxChain {
  std::vector<dsp::Effect*> effects;  // in processing order
};

class Channel {
 public:
  static constexpr size_t kMaxBlock = 4096;  // output frames per mix_into() call
  static constexpr int kRampMs = 5;

  // Control thread. Call init() before use; false with a message on failure.
  // max_latency_out_frames: the longest output latency the meters will look
  // back over (what the output reports), in output frames.
  Channel(std::unique_ptr<Source> source, int out_rate, int max_latency_out_frames = 0);
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  bool init(std::string* error);

  Source& source() { return *source_; }
  const SourceInfo& info() const { return info_; }
  // The source's length in frames (see Source::length()).
  int64_t length(bool wait = true) const { return source_->length(wait); }
  int out_rate() const { return out_rate_; }

  // ---- control thread (atomics; safe while the audio thread mixes) ----
  PlayState state() const { return state_.load(std::memory_order_acquire); }
  void set_state(PlayState s);
  bool stalled() const { return stalled_.load(std::memory_order_relaxed); }
  // True once the source has ended and everything was heard.
  bool ended() const { return ended_.load(std::memory_order_acquire); }
  void set_volume(float v) { volume_.store(v, std::memory_order_relaxed); }
  void set_pan(float p) { pan_.store(p, std::memory_order_relaxed); }
  float volume() const { return volume_.load(std::memory_order_relaxed); }
  float pan() const { return pan_.load(std::memory_order_relaxed); }
  // Frame being heard, at the source's rate, given the output's latency in
  // output frames: never negative, never past the length.
  int64_t heard_frame(int latency_out_frames) const;
  const dsp::History& history() const { return history_; }
  // How many of the frames in history() are not heard yet, given the
  // output's latency in output frames: the meters look back by this much, so
  // they show what is being heard, as the position does.
  size_t unheard_frames(int latency_out_frames) const;
  // Publishes a new chain and returns the old one; the caller frees the old
  // one after Mixer::synchronize().
  const FxChain* swap_fx(const FxChain* chain) { return fx_.exchange(chain, std::memory_order_acq_rel); }

  // Set by the mixer's run_excluded(): the audio thread skips the channel.
  bool excluded() const { return excluded_.load(std::memory_order_seq_cst); }
  void set_excluded(bool excluded) { excluded_.store(excluded, std::memory_order_seq_cst); }

  // ---- control thread while the audio thread is kept off ----
  // Seeks the source and starts the sound path afresh at `frame`.
  bool reposition(int64_t frame);

  // ---- control thread, decoding channels only (never in the mixer) ----
  // A decoding channel is made with out_rate equal to its source's rate, so
  // its position counts source frames. Pulls up to `frames` frames after the
  // effects into out (the source's channel count, interleaved), waiting for
  // the decoder at most wait_ms in all; returns the frames written. At the
  // source's end the channel stops and reports ended().
  size_t decode(float* out, size_t frames, int wait_ms);
  // Room for max(1024, rate / 50) frames of the source's channels, made once,
  // for the meters and sample data asked of the channel (control thread).
  float* scratch() { return scratch_.data(); }
  size_t scratch_frames() const { return scratch_.size() / in_channels_; }

  // ---- audio thread ----
  // Adds up to `frames` (<= kMaxBlock) output frames of this channel into
  // out (stereo interleaved). On the source's end the channel stops itself;
  // returns true when it did so in this call.
  bool mix_into(float* out, size_t frames);

 private:
  size_t pull(float* dst, size_t frames);
  // Reads, sanitises, runs the effects and keeps the history, in dst (room
  // for `want` frames); at most kChunk frames while effects run.
  size_t read_input(float* dst, size_t want);
  void reset_path();

  // fixed at creation
  std::unique_ptr<Source> source_;
  SourceInfo info_;
  int out_rate_;
  int in_channels_;
  bool bypass_ = true;  // same rate, <= 2 channels: no resampler

  // atomics shared by both threads
  std::atomic<PlayState> state_{PlayState::Stopped};
  std::atomic<bool> stalled_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> snap_gain_{true};
  std::atomic<bool> excluded_{false};
  std::atomic<float> volume_{1.f};
  std::atomic<float> pan_{0.f};
  std::atomic<int64_t> start_frame_{0};  // source frame where the path last started
  std::atomic<int64_t> emitted_{0};      // output frames mixed since then
  std::atomic<const FxChain*> fx_{nullptr};
  dsp::History history_;

  // audio thread (or control thread while excluded)
  SwrContext* swr_ = nullptr;
  bool flushed_ = false;
  std::vector<float> src_buf_;   // kChunk frames x in_channels_
  std::vector<float> pair_buf_;  // kChunk frames x 2 (mono doubled)
  std::vector<float> block_;     // kMaxBlock frames x 2
  // control thread
  std::vector<float> scratch_;
  // audio thread only (mix_into): the gains and their ramp toward volume_
  // and pan_; the control thread asks for a jump, not a ramp, through
  // snap_gain_.
  float gain_l_ = 1.f, gain_r_ = 1.f;
  float target_l_ = 1.f, target_r_ = 1.f;
  float step_l_ = 0.f, step_r_ = 0.f;
  int ramp_left_ = 0;
};

}  // namespace tovarin::audio
