// The source object: opening (decoder, then the thread), seeking, its
// queries, and the marks that make a chained part's format and tags heard
// in time.
#include "audio/decode/ffmpeg_source.hpp"

#include <algorithm>
#include <cstring>

#include "audio/bass.h"
#include "platform/platform.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace tovarin::audio::decode {

namespace {

constexpr double kRingSeconds = 2.0;
// The ring never holds more floats than this (16 MiB), so high rates with
// many channels buffer less time rather than more memory.
constexpr size_t kRingMaxFloats = size_t{1} << 22;
// A stream decoded in its reader: a few of the reader's largest pieces.
constexpr size_t kReaderRingFrames = 16384;

}  // namespace

int FfmpegSource::interrupt_callback(void* opaque) {
  auto* self = static_cast<FfmpegSource*>(opaque);
  if (self->thread_.stopping()) return 1;
  const int64_t d = self->deadline_ns_.load(std::memory_order_relaxed);
  return d != 0 && now_ns() > d;
}

FfmpegSource::FfmpegSource(const OpenRequest& req) : req_(req), origin_pts_(AV_NOPTS_VALUE) {
  info_.is_url = req.is_url;
  info_.location = req.name.empty() ? req.location : req.name;
}

FfmpegSource::~FfmpegSource() {
  // The decoder may be waiting for the index: it ends first.
  if (index_) index_->cancel();
  thread_.stop();
  close_input();
}

void FfmpegSource::set_deadline_ms(int64_t ms) { deadline_ns_.store(ms <= 0 ? 0 : now_ns() + ms * 1000000); }

std::unique_ptr<FfmpegSource> FfmpegSource::open(const OpenRequest& req, int* error) {
  auto fail = [error](int code) -> std::unique_ptr<FfmpegSource> {
    if (error) *error = code;
    return nullptr;
  };
  std::unique_ptr<FfmpegSource> s(new FfmpegSource(req));
  if (req.is_url) {
    s->set_deadline_ms(std::max(req.connect_timeout_ms, req.data_timeout_ms) + 1000);
    if (req.deadline_ns > 0) s->deadline_ns_.store(std::min(s->deadline_ns_.load(), req.deadline_ns));
    s->open_deadline_ns_ = s->deadline_ns_.load();
  }
  int r = s->open_input();
  if (r != BASS_OK) return fail(r);
  // Before any packet is read: a chained Ogg part read later replaces them.
  s->read_container_tags();
  // HLS reads a playlist through fmt_->pb: its size is no size of the stream.
  s->content_length_ = req.is_url && !req.hls && s->fmt_->pb ? avio_size(s->fmt_->pb) : -1;
  if (s->content_length_ <= 0) s->content_length_ = -1;
  if (!req.is_url) {
    // Frame 0's timestamp anchors seeking; a file with no decodable audio is refused.
    if (s->next_frame() <= 0) return fail(BASS_ERROR_FILEFORM);
    s->first_frame_frames_ = static_cast<int64_t>(s->sink().held());
    if (!s->determine_length()) return fail(BASS_ERROR_FILEFORM);
    if (s->sink().held() == 0 && s->next_frame() <= 0) return fail(BASS_ERROR_FILEFORM);
  } else {
    // The stream can start once audio decodes; the deadline bounds the wait.
    s->last_audio_ns_ = now_ns();
    if (s->next_frame() <= 0) return fail(interrupt_callback(s.get()) ? BASS_ERROR_TIMEOUT : BASS_ERROR_FILEFORM);
    s->info_.length_frames = -1;
    // An HLS playlist that is complete (on demand) says how long it is; a
    // live one has no length, as a station.
    if (req.hls && s->fmt_->duration > 0)
      s->info_.length_frames = av_rescale(s->fmt_->duration, s->info_.rate, AV_TIME_BASE);
    // A live playlist that ends (stops growing) is a station that dropped.
    if (req.hls && s->info_.length_frames < 0) s->station_ = true;
  }
  const AVCodecParameters* par = s->fmt_->streams[s->stream_]->codecpar;
  const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
  if (desc && (desc->props & AV_CODEC_PROP_LOSSLESS))
    s->info_.bits = par->bits_per_raw_sample > 0 ? par->bits_per_raw_sample : par->bits_per_coded_sample;
  switch (par->codec_id) {
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP1: s->runup_ = 11520; break;
    case AV_CODEC_ID_AAC: s->runup_ = 4096; break;
    case AV_CODEC_ID_OPUS: s->runup_ = 3840; break;
    case AV_CODEC_ID_VORBIS: s->runup_ = 4096; break;
    default: s->runup_ = desc && (desc->props & AV_CODEC_PROP_LOSSLESS) ? 0 : 4096; break;
  }
  s->reopen_to_seek_ = !req.is_url && std::strcmp(s->fmt_->iformat->name, "ogg") == 0;
  if (req.is_url) {
    s->read_icy_headers();
    s->poll_live_metadata();
  }
  s->open_deadline_ns_ = 0;
  s->set_deadline_ms(0);
  if (req.file_size >= 0) s->content_length_ = req.file_size;
  const size_t ring_frames = std::min(static_cast<size_t>(s->info_.rate * kRingSeconds),
                                      kRingMaxFloats / static_cast<size_t>(s->info_.channels));
  // Decoded in the reader, frames go from the decoder to the reader at once:
  // a small ring, which stays in the cache, is enough.
  s->thread_.start(*s, req.decode_in_reader ? std::min<size_t>(ring_frames, kReaderRingFrames) : ring_frames,
                   req.decode_in_reader);
  if (error) *error = BASS_OK;
  return s;
}

void FfmpegSource::start() {
  // Decoding already runs from open on; the ring is full by the time anyone plays.
}

void FfmpegSource::delivered() {
  // The station's silence is counted from when more audio is wanted: time
  // spent waiting for room in the ring (a paused stream) is not its fault.
  if (req_.is_url) last_audio_ns_ = now_ns();
}

bool FfmpegSource::seek(int64_t target, FrameSink& sink) {
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
    return false;
  }
  int64_t runup = runup_;
  for (int attempt = 0;; ++attempt) {
    const bool positioned = attempt < 3 && position_before(target - runup);
    if (!positioned) {
      // From the very start the running count is exact whatever the timestamps say.
      if (!rewind()) {
        input_eof_ = true;
        return false;
      }
    }
    skip_until_ = target;
    overshoot_ = false;
    const int r = next_frame();
    if (overshoot_ && positioned) {
      // The demuxer landed after the target: back off further.
      runup = runup * 4 + info_.rate;
      sink.discard();
      continue;
    }
    if (r < 0) input_eof_ = true;
    return r > 0;
  }
}

bool FfmpegSource::seek_to(int64_t frame) {
  if (info_.is_url || frame < 0) return false;
  // The start is always there; anywhere else needs the length (and a raw
  // stream's index, which the decoder seeks by).
  if (frame > 0) {
    const int64_t len = length();
    if (len >= 0 && frame > len) return false;
  }
  thread_.seek(frame);
  return true;
}

void FfmpegSource::mark(int64_t at, int rate, int channels, const std::array<std::string, 7>* tags) {
  if (rate > 0) {
    decoded_rate_ = rate;
    decoded_channels_ = channels;
  }
  Mark m{at, rate, channels, tags != nullptr, {}};
  if (tags) m.tags = *tags;
  std::lock_guard lk(tags_mu_);
  marks_.push_back(std::move(m));
  apply_marks();
}

void FfmpegSource::apply_marks() const {
  // Nobody may ask for a long time: past a few, the oldest hold at once.
  constexpr size_t kMostMarks = 16;
  const int64_t heard = position();
  while (!marks_.empty() && (marks_.front().at <= heard || marks_.size() > kMostMarks)) {
    const Mark& m = marks_.front();
    if (m.rate > 0) {
      heard_rate_ = m.rate;
      heard_channels_ = m.channels;
    }
    if (m.has_tags) container_tags_ = m.tags;
    marks_.pop_front();
  }
}

void FfmpegSource::heard_format(int* rate, int* channels) const {
  std::lock_guard lk(tags_mu_);
  apply_marks();
  *rate = heard_rate_ > 0 ? heard_rate_ : info_.rate;
  *channels = heard_rate_ > 0 ? heard_channels_ : info_.channels;
}

int64_t FfmpegSource::file_position(uint32_t mode) const {
  switch (mode) {
    case BASS_FILEPOS_CURRENT: return bytes_pos_.load(std::memory_order_relaxed);
    case BASS_FILEPOS_DOWNLOAD: return info_.is_url ? bytes_received_.load(std::memory_order_relaxed) : content_length_;
    case BASS_FILEPOS_END:
      if (content_length_ >= 0) return content_length_;
      return info_.is_url ? bytes_received_.load(std::memory_order_relaxed) : -1;
    case BASS_FILEPOS_START: return 0;
    default: return -1;
  }
}

std::string FfmpegSource::tag(TagKey key) const {
  std::lock_guard lk(tags_mu_);
  apply_marks();
  const std::string& c = container_tags_[static_cast<size_t>(key)];
  if (!info_.is_url) return c;
  // Stations: the live title first, then what the stream itself says, then the station's headers.
  switch (key) {
    case TagKey::Title:
      if (!live_title_.empty()) return live_title_;
      // HLS names the song by ID3 title and artist: shown as stations show theirs.
      if (req_.hls && !c.empty() && !container_tags_[static_cast<size_t>(TagKey::Artist)].empty())
        return container_tags_[static_cast<size_t>(TagKey::Artist)] + " - " + c;
      return !c.empty() ? c : icy_name_;
    case TagKey::Album: return !c.empty() ? c : icy_name_;
    case TagKey::Genre: return !c.empty() ? c : icy_genre_;
    case TagKey::Comment: return !c.empty() ? c : icy_description_;
    default: return c;
  }
}

}  // namespace tovarin::audio::decode
