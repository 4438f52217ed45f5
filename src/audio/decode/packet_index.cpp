#include "audio/decode/packet_index.hpp"
#include "audio/api/fault.hpp"

#include <algorithm>

#include "audio/decode/ffmpeg_source.hpp"
#include "audio/decode/mp3_header.hpp"
#include "platform/platform.hpp"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tovarin::audio::decode {

namespace {

// MPEG audio and ADTS frames begin with 11 or 12 set bits.
bool starts_with_sync(const AVPacket* pkt) {
  return pkt->size >= 2 && pkt->data[0] == 0xFF && (pkt->data[1] & 0xE0) == 0xE0;
}

int64_t duration_of(const AVPacket* pkt) { return std::max<int64_t>(pkt->duration, 0); }

// Packets alike and back to back before the rest is read from headers: the
// parser's start (its first frames may be timed apart) and any resync lie
// behind.
constexpr int kSteadyRun = 8;

int cancelled(void* opaque) { return static_cast<const std::atomic<bool>*>(opaque)->load(std::memory_order_relaxed); }

// The file opened as a file source opens it (the same whitelists, so the
// same demuxer and the same packets), reading only `stream`.
AVFormatContext* open_demuxer(const std::string& location, int stream, std::atomic<bool>* cancel) {
  AVFormatContext* fmt = avformat_alloc_context();
  if (!fmt) return nullptr;
  fmt->interrupt_callback = AVIOInterruptCB{&cancelled, cancel};
  AVDictionary* opts = nullptr;
  set_file_options(&opts);
  const int r = avformat_open_input(&fmt, ("file:" + location).c_str(), nullptr, &opts);
  av_dict_free(&opts);
  if (r < 0) return nullptr;  // fmt freed
  if (avformat_find_stream_info(fmt, nullptr) < 0 || stream < 0 || stream >= static_cast<int>(fmt->nb_streams)) {
    avformat_close_input(&fmt);
    return nullptr;
  }
  for (unsigned i = 0; i < fmt->nb_streams; ++i)
    fmt->streams[i]->discard = static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  return fmt;
}

}  // namespace

PacketIndex::~PacketIndex() {
  cancel();
  if (thread_.joinable()) thread_.join();
}

void PacketIndex::start(Params p) {
  params_ = std::move(p);
  if (!frame_scan_.load(std::memory_order_relaxed)) params_.syntax = FrameSyntax::none;
  fault::thread_start();
  thread_ = std::thread([this] { run(); });
}

const PacketIndex::Result& PacketIndex::wait() const {
  std::unique_lock lk(mu_);
  cv_.wait(lk, [this] { return done_.load(std::memory_order_acquire); });
  return result_;
}

void PacketIndex::run() {
  platform::use_default_float_environment();
  const Params& p = params_;
  Result r;
  r.length = std::max<int64_t>(p.estimate, 0);
  const int64_t give_up = now_ns() + p.limit_ns;
  AVFormatContext* fmt = open_demuxer(p.location, p.stream, &cancel_);
  AVPacket* pkt = fmt ? av_packet_alloc() : nullptr;
  if (pkt) {
    const AVRational tb = fmt->streams[p.stream]->time_base, rate_tb{1, p.rate};
    int64_t scanned = 0, first_packet = -1, next_pts = AV_NOPTS_VALUE;
    bool complete = true;
    // The current run of counted packets alike and back to back: its length,
    // the end of its last packet, its first packet's header and duration.
    bool try_scan = p.syntax != FrameSyntax::none;
    int run = 0;
    int64_t run_end = -1, run_duration = 0;
    uint8_t run_header[kFrameHeaderBytes] = {};
    for (;;) {
      if (cancel_.load(std::memory_order_relaxed) || now_ns() > give_up) {
        complete = false;
        break;
      }
      const int e = av_read_frame(fmt, pkt);
      if (e == AVERROR(EAGAIN)) continue;
      if (e < 0) {
        complete = !cancel_.load(std::memory_order_relaxed);
        break;
      }
      // What the parser passes on without a frame header (junk between
      // frames, an APE tag at the end) decodes to nothing: it is not
      // counted, and the timestamps after it count only frames, as the
      // decoder does.
      if (pkt->stream_index != p.stream) {
        av_packet_unref(pkt);
        continue;
      }
      const bool counted = !p.frames_have_sync || starts_with_sync(pkt);
      if (counted) {
        if (next_pts == AV_NOPTS_VALUE) next_pts = pkt->pts;
        if (next_pts != AV_NOPTS_VALUE && pkt->pos >= 0 && (r.table.empty() || pkt->pos > r.table.back().pos))
          r.table.push_back({pkt->pos, next_pts});
        const int64_t duration = std::max<int64_t>(pkt->duration, 0);
        if (next_pts != AV_NOPTS_VALUE) next_pts += duration;
        const int64_t n = av_rescale_q(duration, tb, rate_tb);
        if (first_packet < 0) first_packet = n;
        scanned += n;
      }
      if (try_scan) {
        // Past the parser's first frames and any resync, a run of frames
        // alike and back to back: the rest can be read from headers.
        const bool alike = counted && pkt->size >= kFrameHeaderBytes && pkt->pos >= 0 && duration_of(pkt) > 0 &&
                           next_pts != AV_NOPTS_VALUE;
        if (!alike) {
          run = 0;
        } else if (run == 0 || pkt->pos != run_end || duration_of(pkt) != run_duration ||
                   !same_frame_format(p.syntax, pkt->data, run_header)) {
          run = 1;
          std::copy_n(pkt->data, kFrameHeaderBytes, run_header);
          run_duration = duration_of(pkt);
        } else {
          ++run;
        }
        run_end = pkt->pos + pkt->size;
        if (run >= kSteadyRun) {
          try_scan = false;  // once: where it fails, the demuxer counts the rest
          if (auto starts = scan_frames(p.location, p.syntax, run_header, run_end, cancel_, give_up)) {
            const int64_t n = av_rescale_q(run_duration, tb, rate_tb);
            r.table.reserve(r.table.size() + starts->size());
            for (const int64_t pos : *starts) {
              r.table.push_back({pos, next_pts});
              next_pts += run_duration;
            }
            scanned += n * static_cast<int64_t>(starts->size());
            r.from_headers = true;
            av_packet_unref(pkt);
            break;
          }
        }
      }
      av_packet_unref(pkt);
    }
    // The length is all packets' samples less the encoder delay the decoder
    // drops at the start (what the first packet held beyond what its frame
    // gave) and the padding it drops at the end (recorded in the LAME header).
    if (complete && scanned > 0 && first_packet > 0) {
      int64_t start_skip = std::max<int64_t>(first_packet - p.first_frame_frames, 0);
      int64_t end_skip = 0;
      // The decoder's own delay (529 samples) is inside the padding already dropped at the start.
      if (p.mpeg_audio) {
        if (auto gap = read_lame_gap(p.location)) {
          end_skip = std::max(gap->padding - 529, 0);
          // A delay longer than the first frame (576 samples a frame at
          // half rates) drops that frame whole: the first frame decoded is
          // then a later one, and the skip is the header's.
          start_skip = std::max<int64_t>(start_skip, gap->delay + 529);
        }
      }
      r.length = std::clamp<int64_t>(scanned - start_skip - end_skip, 0, p.most);
      r.exact = true;
    } else {
      r.table.clear();
    }
    av_packet_free(&pkt);
  }
  avformat_close_input(&fmt);
  {
    std::lock_guard lk(mu_);
    result_ = std::move(r);
    done_.store(true, std::memory_order_release);
  }
  cv_.notify_all();
}

}  // namespace tovarin::audio::decode
