#include "audio/mixer/channel.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace tovarin::audio {

namespace {
// Source frames read at most at once into src_buf_, or through effects
// (whose parameter changes take hold between reads). Without effects a read
// into the caller's buffer takes all it asks at once: the history then keeps
// only the tail of it, instead of storing every frame of a long pull.
constexpr size_t kChunk = 4096;
}  // namespace

Channel::Channel(std::unique_ptr<Source> source, int out_rate, int max_latency_out_frames)
    : source_(std::move(source)),
      info_(source_->info()),
      out_rate_(out_rate),
      in_channels_(std::clamp(info_.channels, 1, 8)),
      // Room to look back over the output's latency at the source's rate,
      // and over what the resampler holds.
      history_(in_channels_, info_.rate,
               static_cast<size_t>(
                   av_rescale(std::max(0, max_latency_out_frames), std::max(info_.rate, 1), std::max(out_rate, 1))) +
                   (max_latency_out_frames > 0 ? 256 : 0)) {}

Channel::~Channel() { swr_free(&swr_); }

bool Channel::init(std::string* error) {
  if (info_.rate <= 0 || info_.channels < 1 || info_.channels > 8) {
    if (error) *error = "unsupported rate or channel count";
    return false;
  }
  bypass_ = info_.rate == out_rate_ && in_channels_ <= 2;
  src_buf_.assign(kChunk * in_channels_, 0.f);
  pair_buf_.assign(kChunk * 2, 0.f);
  block_.assign(kMaxBlock * 2, 0.f);
  scratch_.assign(std::max<size_t>(1024, static_cast<size_t>(info_.rate) / 50) * in_channels_, 0.f);
  if (!bypass_) {
    AVChannelLayout in_layout{}, out_layout{};
    av_channel_layout_default(&in_layout, in_channels_ <= 2 ? 2 : in_channels_);
    av_channel_layout_default(&out_layout, 2);
    int rc = swr_alloc_set_opts2(&swr_, &out_layout, AV_SAMPLE_FMT_FLT, out_rate_, &in_layout, AV_SAMPLE_FMT_FLT,
                                 info_.rate, 0, nullptr);
    av_channel_layout_uninit(&in_layout);
    av_channel_layout_uninit(&out_layout);
    if (rc < 0 || swr_init(swr_) < 0) {
      if (error) *error = "cannot set up the resampler";
      return false;
    }
  }
  return true;
}

void Channel::set_state(PlayState s) {
  PlayState old = state_.exchange(s, std::memory_order_acq_rel);
  if (s == PlayState::Playing && old != PlayState::Playing) {
    // A channel that starts from silence takes its gains at once.
    snap_gain_.store(true, std::memory_order_release);
    ended_.store(false, std::memory_order_release);
  }
}

int64_t Channel::heard_frame(int latency_out_frames) const {
  // Counting back from output frames can fall a frame short of the source's
  // end once the resampler has rounded; an ended channel is at its end.
  // A length still being counted is not waited for: until it is known the
  // decoder has not reached the end.
  const int64_t length = source_->length(false);
  if (ended() && length >= 0) return length;
  int64_t out = emitted_.load(std::memory_order_acquire) - std::max(0, latency_out_frames);
  if (out < 0) out = 0;
  int64_t frame = start_frame_.load(std::memory_order_acquire) + av_rescale(out, info_.rate, out_rate_);
  if (length >= 0) frame = std::min(frame, length);
  return frame;
}

size_t Channel::unheard_frames(int latency_out_frames) const {
  // The frames processed since the path started, against the frames heard
  // since then (output frames mixed, less the latency, at the source's rate).
  const int64_t written = static_cast<int64_t>(history_.written());
  int64_t out = emitted_.load(std::memory_order_acquire) - std::max(0, latency_out_frames);
  if (out < 0) out = 0;
  const int64_t heard = av_rescale(out, info_.rate, out_rate_);
  return written > heard ? static_cast<size_t>(written - heard) : 0;
}

void Channel::reset_path() {
  if (swr_) {
    // Re-initialising drops the resampler's buffered input and filter memory.
    swr_init(swr_);
  }
  flushed_ = false;
  if (const FxChain* chain = fx_.load(std::memory_order_acquire))
    for (auto* e : chain->effects) e->reset();
  history_.clear();
  stalled_.store(false, std::memory_order_relaxed);
}

bool Channel::reposition(int64_t frame) {
  if (!source_->seek_to(frame)) return false;
  reset_path();
  start_frame_.store(frame, std::memory_order_release);
  emitted_.store(0, std::memory_order_release);
  ended_.store(false, std::memory_order_release);
  return true;
}

size_t Channel::read_input(float* dst, size_t want) {
  const FxChain* chain = fx_.load(std::memory_order_acquire);
  if (chain) want = std::min(want, kChunk);
  size_t got = source_->read(dst, want);
  if (got == 0) return 0;
  // A NaN or infinity from a decoder would stay in every effect's memory
  // (and in the meters) for good: it becomes silence here. Samples decoded
  // from integers cannot be either.
  if (!source_->bounded()) dsp::sanitize(dst, got * in_channels_);
  if (chain) dsp::run_chain(chain->effects.data(), chain->effects.size(), dst, got, in_channels_);
  history_.write(dst, got);
  return got;
}

size_t Channel::pull(float* dst, size_t n) {
  size_t have = 0;
  if (bypass_) {
    while (have < n) {
      float* o = dst + have * 2;
      if (in_channels_ == 1) {
        const size_t got = read_input(src_buf_.data(), std::min(n - have, kChunk));
        if (got == 0) break;
        for (size_t i = 0; i < got; ++i) o[2 * i] = o[2 * i + 1] = src_buf_[i];
        have += got;
      } else {
        // Stereo is read and processed where it is mixed from.
        const size_t got = read_input(o, n - have);
        if (got == 0) break;
        have += got;
      }
    }
    return have;
  }

  // Output the resampler still holds from earlier input, then feed it.
  float dummy = 0;
  const uint8_t* none[1] = {reinterpret_cast<const uint8_t*>(&dummy)};
  uint8_t* o = reinterpret_cast<uint8_t*>(dst);
  int r = swr_convert(swr_, &o, static_cast<int>(n), none, 0);
  if (r > 0) have = r;
  while (have < n && !flushed_) {
    int64_t need = av_rescale_rnd(n - have, info_.rate, out_rate_, AV_ROUND_UP);
    size_t got = read_input(src_buf_.data(), std::min(static_cast<size_t>(std::max<int64_t>(need, 1)), kChunk));
    o = reinterpret_cast<uint8_t*>(dst + have * 2);
    if (got == 0) {
      if (!source_->finished()) break;  // underrun: the rest stays silent
      r = swr_convert(swr_, &o, static_cast<int>(n - have), nullptr, 0);
      if (r <= 0) {
        flushed_ = true;
        break;
      }
      have += r;
      continue;
    }
    const float* in = src_buf_.data();
    if (in_channels_ == 1) {
      for (size_t i = 0; i < got; ++i) pair_buf_[2 * i] = pair_buf_[2 * i + 1] = src_buf_[i];
      in = pair_buf_.data();
    }
    const uint8_t* ins[1] = {reinterpret_cast<const uint8_t*>(in)};
    r = swr_convert(swr_, &o, static_cast<int>(n - have), ins, static_cast<int>(got));
    if (r > 0) have += r;
  }
  return have;
}

size_t Channel::decode(float* out, size_t frames, int wait_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  size_t have = 0;
  while (have < frames) {
    size_t got = read_input(out + have * in_channels_, frames - have);
    if (got == 0) {
      if (source_->finished()) {
        ended_.store(true, std::memory_order_release);
        state_.store(PlayState::Stopped, std::memory_order_release);
        break;
      }
      // The decoder thread is behind: wait until it has what is asked.
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      source_->wait_readable(frames - have, static_cast<int>(left.count()));
      continue;
    }
    have += got;
  }
  emitted_.store(emitted_.load(std::memory_order_relaxed) + static_cast<int64_t>(have), std::memory_order_release);
  return have;
}

bool Channel::mix_into(float* out, size_t frames) {
  frames = std::min(frames, kMaxBlock);
  size_t got = pull(block_.data(), frames);

  // Gains from volume and pan (balance law), ramped on every change.
  float vol = std::max(0.f, volume_.load(std::memory_order_relaxed));
  float pan = std::clamp(pan_.load(std::memory_order_relaxed), -1.f, 1.f);
  float tl = vol * std::min(1.f, 1.f - pan);
  float tr = vol * std::min(1.f, 1.f + pan);
  if (snap_gain_.exchange(false, std::memory_order_acq_rel)) {
    gain_l_ = target_l_ = tl;
    gain_r_ = target_r_ = tr;
    ramp_left_ = 0;
  } else if (tl != target_l_ || tr != target_r_) {
    target_l_ = tl;
    target_r_ = tr;
    ramp_left_ = out_rate_ * kRampMs / 1000;
    if (ramp_left_ < 1) ramp_left_ = 1;
    step_l_ = (tl - gain_l_) / ramp_left_;
    step_r_ = (tr - gain_r_) / ramp_left_;
  }
  const float* b = block_.data();
  size_t i = 0;
  for (; i < got && ramp_left_ > 0; ++i) {
    gain_l_ += step_l_;
    gain_r_ += step_r_;
    if (--ramp_left_ == 0) {
      gain_l_ = target_l_;
      gain_r_ = target_r_;
    }
    out[2 * i] += b[2 * i] * gain_l_;
    out[2 * i + 1] += b[2 * i + 1] * gain_r_;
  }
  for (; i < got; ++i) {
    out[2 * i] += b[2 * i] * gain_l_;
    out[2 * i + 1] += b[2 * i + 1] * gain_r_;
  }
  emitted_.store(emitted_.load(std::memory_order_relaxed) + static_cast<int64_t>(got), std::memory_order_release);

  // A source that gave its last frame in this block ends the channel now,
  // not a block later: the player learns of the end while that block is
  // heard, in time to start what follows without a block of silence.
  const bool drained = source_->finished() && (bypass_ || (got < frames && flushed_));
  if (got < frames || drained) {
    if (drained) {
      ended_.store(true, std::memory_order_release);
      PlayState expected = PlayState::Playing;
      state_.compare_exchange_strong(expected, PlayState::Stopped, std::memory_order_acq_rel);
      stalled_.store(false, std::memory_order_relaxed);
      return true;
    }
    stalled_.store(true, std::memory_order_relaxed);
  } else {
    stalled_.store(false, std::memory_order_relaxed);
  }
  return false;
}

}  // namespace tovarin::audio
