// The synchronous FFmpeg decoder of a source: open, next frame, exact seek
// positioning and length. Runs on the opening thread, then on the decoder
// thread only.
#include "audio/decode/ffmpeg_source.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "audio/bass.h"
#include "audio/decode/ogg_scan.hpp"
#include "audio/decode/text.hpp"
#include "platform/platform.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
}

namespace tovarin::audio::decode {

namespace {

// Demuxers that read one audio file and never open another one (no playlists,
// concat lists, image sequences or text renderers).
constexpr const char* kFileFormats =
    "wav,w64,mp3,ogg,flac,mov,aac,aiff,matroska,ape,wv,tta,au,caf,dsf,mpc,mpc8,amr,ac3,eac3,dts,"
    "truehd,mlp,asf,voc,shn,tak,loas,xwma,sox";
constexpr const char* kStreamFormats = "mp3,aac,ogg,flac,wav,loas,matroska";
// The HLS demuxer passes this list on to the demuxers of its segments.
constexpr const char* kHlsFormats = "hls,mpegts,aac,mp3,mov,ac3,eac3";

// Opening must find decodable audio within this many packets.
constexpr int kMaxProbePackets = 2000;

// A file whose length needs a scan gets this long; past it the length is an estimate.
constexpr int kScanLimitMs = 3000;

// While a raw stream's index is built, the decoder goes this far into the
// file (some 20 s at 192 kbit/s; the index of a two-hour file takes about a second).
constexpr int64_t kFreeBytes = 512 * 1024;

// No codec packs more frames into a byte of file than this (lossless codecs
// on digital silence come nearest); a header claiming more is not believed.
constexpr int64_t kMaxFramesPerByte = 4096;

std::string dict_get(const AVDictionary* d, std::initializer_list<const char*> keys) {
  for (const char* k : keys) {
    // av_dict_get matches case-insensitively unless told otherwise: "TITLE" and "title" both match.
    const AVDictionaryEntry* e = av_dict_get(d, k, nullptr, 0);
    if (e && e->value && *e->value) return to_utf8(e->value);
  }
  return {};
}

// The certificates that https servers are verified against: the PEM file
// named by TOVARIN_CA_FILE, else the system's bundle. Empty when neither is
// found (the TLS backend then uses its own default store, if any).
std::string ca_file() {
  std::string named = platform::env("TOVARIN_CA_FILE");
  if (!named.empty()) return named;
  for (const char* path :
       {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt", "/etc/ssl/cert.pem"})
    if (platform::regular_file(path)) return path;
  return {};
}

}  // namespace

void set_http_options(AVDictionary** opts, const OpenRequest& req) {
  av_dict_set(opts, "protocol_whitelist", "http,https,tcp,tls", 0);
  av_dict_set(opts, "reconnect", "0", 0);
  av_dict_set(opts, "user_agent", "tovarin/1.0", 0);
  av_dict_set_int(opts, "timeout", int64_t{req.connect_timeout_ms} * 1000, 0);
  av_dict_set_int(opts, "rw_timeout", int64_t{req.data_timeout_ms} * 1000, 0);
  // https: FFmpeg's TLS does not verify the server unless told to, and
  // some of its backends trust nothing without a CA file.
  av_dict_set(opts, "tls_verify", "1", 0);
  if (const std::string ca = ca_file(); !ca.empty()) av_dict_set(opts, "ca_file", ca.c_str(), 0);
}

void set_file_options(AVDictionary** opts) {
  av_dict_set(opts, "protocol_whitelist", "file", 0);
  av_dict_set(opts, "format_whitelist", kFileFormats, 0);
}

void FfmpegSource::close_input() {
  if (frame_) av_frame_free(&frame_);
  if (pkt_) av_packet_free(&pkt_);
  if (dec_) avcodec_free_context(&dec_);
  if (fmt_) avformat_close_input(&fmt_);
  if (prefix_io_) {
    av_freep(&prefix_io_->buffer);
    avio_context_free(&prefix_io_);
  }
  platform::close_file(prefix_.fd);
  prefix_ = Prefix{};
}

namespace {

// A decoder for the stream as its parameters stand; null when it cannot open.
AVCodecContext* open_decoder(const AVStream* st, const AVCodec* codec) {
  AVCodecContext* dec = avcodec_alloc_context3(codec);
  if (!dec) return nullptr;
  dec->pkt_timebase = st->time_base;
  if (avcodec_parameters_to_context(dec, st->codecpar) < 0 || avcodec_open2(dec, codec, nullptr) < 0)
    avcodec_free_context(&dec);
  return dec;
}

int prefix_read(void* opaque, uint8_t* buf, int n) {
  auto* f = static_cast<FfmpegSource::Prefix*>(opaque);
  const int64_t left = f->size - f->pos;
  if (left <= 0) return AVERROR_EOF;
  const int64_t got = platform::read_some_at(f->fd, buf, static_cast<size_t>(std::min<int64_t>(n, left)), f->pos);
  if (got < 0) return AVERROR(errno);
  if (got == 0) return AVERROR_EOF;
  f->pos += got;
  return static_cast<int>(got);
}

int64_t prefix_seek(void* opaque, int64_t offset, int whence) {
  auto* f = static_cast<FfmpegSource::Prefix*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) return f->size;
  int64_t to = -1;
  if (whence == SEEK_SET)
    to = offset;
  else if (whence == SEEK_CUR)
    to = f->pos + offset;
  else if (whence == SEEK_END)
    to = f->size + offset;
  if (to < 0) return AVERROR(EINVAL);
  return f->pos = to;
}

}  // namespace

bool FfmpegSource::open_prefix() {
  prefix_.fd = platform::open_read(req_.location);
  if (prefix_.fd < 0) return false;
  prefix_.size = req_.readable_bytes;
  constexpr int kBuffer = 32768;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
  if (!buffer) return false;
  prefix_io_ = avio_alloc_context(buffer, kBuffer, 0, &prefix_, &prefix_read, nullptr, &prefix_seek);
  if (!prefix_io_) {
    av_free(buffer);
    return false;
  }
  fmt_->pb = prefix_io_;
  fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
  return true;
}

int FfmpegSource::open_input() {
  fmt_ = avformat_alloc_context();
  pkt_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!fmt_ || !pkt_ || !frame_) return BASS_ERROR_MEM;
  fmt_->interrupt_callback.callback = &FfmpegSource::interrupt_callback;
  fmt_->interrupt_callback.opaque = this;

  AVDictionary* opts = nullptr;
  std::string url;
  if (req_.is_url) {
    url = req_.location;
    set_http_options(&opts, req_);
    // HLS reads its playlist and then segments: MPEG-TS, packed audio or
    // fragmented MP4. Encrypted segments come through "crypto", which
    // decrypts what it reads through the protocols listed here and nothing
    // else, so it can reach no other place than http can.
    if (req_.hls) {
      av_dict_set(&opts, "protocol_whitelist", "http,https,tcp,tls,crypto", 0);
      av_dict_set(&opts, "format_whitelist", kHlsFormats, 0);
    } else {
      av_dict_set(&opts, "format_whitelist", kStreamFormats, 0);
    }
    av_dict_set(&opts, "icy", "1", 0);
    av_dict_set(&opts, "seekable", "0", 0);
    // A live stream gives a second of audio per second: probe little, or opening waits for it.
    fmt_->probesize = 64 * 1024;
    fmt_->max_analyze_duration = 500000;
  } else {
    // The explicit scheme keeps a path holding ':' from naming another protocol.
    url = "file:" + req_.location;
    if (req_.readable_bytes >= 0) {
      if (!open_prefix()) {
        av_dict_free(&opts);
        return BASS_ERROR_FILEOPEN;
      }
      url = req_.location;  // named for probing only; the bytes come from the prefix
    }
    set_file_options(&opts);
  }
  int r = avformat_open_input(&fmt_, url.c_str(), nullptr, &opts);
  av_dict_free(&opts);
  if (r < 0) {
    // avformat_open_input frees the context on failure.
    fmt_ = nullptr;
    // Not audio: data no demuxer knows, or one that is not ours to use (a
    // playlist's type names its demuxer).
    if (req_.is_url)
      return r == AVERROR_INVALIDDATA || r == AVERROR(EINVAL) ? BASS_ERROR_FILEFORM : BASS_ERROR_FILEOPEN;
    return r == AVERROR(ENOENT) || r == AVERROR(EACCES) ? BASS_ERROR_FILEOPEN : BASS_ERROR_FILEFORM;
  }
  if (avformat_find_stream_info(fmt_, nullptr) < 0)
    return thread_.stopping() ? BASS_ERROR_FILEOPEN : BASS_ERROR_FILEFORM;
  const AVCodec* codec = nullptr;
  stream_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (stream_ < 0 || !codec) return BASS_ERROR_FILEFORM;
  id3_stream_ = timed_id3_stream();
  for (unsigned i = 0; i < fmt_->nb_streams; ++i)
    fmt_->streams[i]->discard =
        static_cast<int>(i) == stream_ || static_cast<int>(i) == id3_stream_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  AVStream* st = fmt_->streams[stream_];
  dec_ = open_decoder(st, codec);
  if (!dec_) return BASS_ERROR_FILEFORM;

  const int rate = st->codecpar->sample_rate > 0 ? st->codecpar->sample_rate : dec_->sample_rate;
  const int channels =
      st->codecpar->ch_layout.nb_channels > 0 ? st->codecpar->ch_layout.nb_channels : dec_->ch_layout.nb_channels;
  // A rate or channel count no device plays is damage, and sizing buffers
  // from it could ask for gigabytes.
  if (rate < 1 || rate > kMaxSourceRate || channels < 1 || channels > kMaxSourceChannels) return BASS_ERROR_FILEFORM;
  if (info_.rate == 0) {
    info_.rate = rate;
    info_.channels = channels;
    converter_ = std::make_unique<SampleConverter>(rate, channels);
  }
  converter_->reset();
  next_index_ = 0;
  resync_ = false;
  skip_until_ = 0;
  input_eof_ = false;
  sink().set_channels(info_.channels);
  sink().drop_held();
  return BASS_OK;
}

bool FfmpegSource::rewind() {
  close_input();
  return open_input() == BASS_OK;
}

bool FfmpegSource::take_frame() {
  AVFrame* f = frame_;
  if (f->sample_rate <= 0 || f->ch_layout.nb_channels <= 0) return false;
  const bool counting = skip_until_ == INT64_MAX;
  if (!converter_->direct(f)) {
    // Another format than the stream's: resampled to it, placed by the
    // running count (a chained part's timestamps start afresh).
    resync_ = false;
    const int64_t idx = next_index_;
    resampled_.clear();
    if (!converter_->convert(f, 0, f->nb_samples, resampled_)) return false;
    const int64_t got = static_cast<int64_t>(resampled_.size()) / info_.channels;
    next_index_ = idx + got;
    if (!counting && (f->sample_rate != decoded_rate_ || f->ch_layout.nb_channels != decoded_channels_))
      mark(idx, f->sample_rate, f->ch_layout.nb_channels, nullptr);
    int64_t from = idx < skip_until_ ? std::min(skip_until_ - idx, got) : 0;
    int64_t keep = got;
    if (const int64_t cut = cut_length(); cut >= 0 && idx + keep > cut) keep = std::max<int64_t>(cut - idx, 0);
    if (from >= keep) return false;
    sink().append(resampled_.data() + from * info_.channels, static_cast<size_t>(keep - from));
    if (req_.is_url) last_audio_ns_ = now_ns();
    return true;
  }
  int64_t pts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
  const AVRational tb = fmt_->streams[stream_]->time_base;
  if (origin_pts_ == AV_NOPTS_VALUE && next_index_ == 0 && pts != AV_NOPTS_VALUE) origin_pts_ = pts;
  int64_t idx = next_index_;
  const bool placeable = pts != AV_NOPTS_VALUE && origin_pts_ != AV_NOPTS_VALUE && !chained_;
  auto place = [&] {
    return av_rescale_q_rnd(pts - origin_pts_, tb, AVRational{1, info_.rate},
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
  };
  if (resync_) {
    // The first frames after a seek may carry no timestamp (Ogg stamps pages,
    // not packets): drop them until one can be placed.
    if (!placeable) return false;
    resync_ = false;
    idx = place();
    if (idx > skip_until_) overshoot_ = true;
  } else if (idx < skip_until_ && !counting && placeable) {
    // Until the target, every frame is placed by its timestamp: a decoder
    // that drops a frame it cannot decode yet must not shift the count.
    idx = place();
  }
  int count = f->nb_samples;
  next_index_ = idx + count;
  if (!counting && (f->sample_rate != decoded_rate_ || f->ch_layout.nb_channels != decoded_channels_))
    mark(idx, f->sample_rate, f->ch_layout.nb_channels, nullptr);
  int from = 0;
  if (idx < skip_until_) from = static_cast<int>(std::min<int64_t>(skip_until_ - idx, count));
  if (const int64_t cut = cut_length(); cut >= 0 && idx + count > cut)
    count = static_cast<int>(std::max<int64_t>(cut - idx, 0));
  if (from >= count) return false;
  if (converter_->holding()) {
    // Frames a resampler still held from a part in another format come first.
    resampled_.clear();
    converter_->drain(resampled_);
    const size_t held = resampled_.size() / info_.channels;
    sink().append(resampled_.data(), held);
    next_index_ += static_cast<int64_t>(held);
  }
  // Converted once, straight into the ring when it has the room; a reader
  // that runs the decoder takes what its buffer holds directly, the rest
  // waits in the ring.
  const bool bounded = is_integer_format(f);
  const auto put = [&](int at, int frames) {
    const bool ok = convert_frame(f, info_.channels, at, frames, sink().reserve(static_cast<size_t>(frames)));
    sink().commit(ok ? static_cast<size_t>(frames) : 0, bounded);
    return ok;
  };
  const int part = static_cast<int>(std::min<size_t>(sink().direct_room(), static_cast<size_t>(count - from)));
  if (part > 0 && part < count - from) {
    if (!put(from, part)) return false;
    from += part;
  }
  if (!put(from, count - from)) return false;
  if (req_.is_url) last_audio_ns_ = now_ns();
  return true;
}

int FfmpegSource::next_frame() {
  int bad_packets = 0;
  for (;;) {
    if (thread_.stopping()) return -1;
    int r = avcodec_receive_frame(dec_, frame_);
    if (r == 0) {
      const bool got = take_frame();
      av_frame_unref(frame_);
      if (got) return 1;
      continue;
    }
    // Drained, or a decoder that fails while draining: the end either way,
    // after what a resampler still holds.
    if (r == AVERROR_EOF || input_eof_) {
      resampled_.clear();
      converter_->drain(resampled_);
      const size_t held = resampled_.size() / info_.channels;
      sink().append(resampled_.data(), held);
      next_index_ += static_cast<int64_t>(held);
      return held == 0 ? -1 : 1;
    }
    if (req_.is_url) {
      // A server that sends bytes but never decodable audio is as dead as a silent one.
      if (last_audio_ns_ != 0 && now_ns() - last_audio_ns_ > int64_t{req_.data_timeout_ms} * 1000000) {
        if (reconnect(false)) continue;
        if (!dec_) input_eof_ = true;
        return -1;
      }
      // While opening, the overall opening deadline stays in force.
      if (open_deadline_ns_ == 0) set_deadline_ms(req_.data_timeout_ms);
    }
    r = av_read_frame(fmt_, pkt_);
    if (fmt_->pb) {
      bytes_pos_.store(bytes_before_ + avio_tell(fmt_->pb), std::memory_order_relaxed);
      bytes_received_.store(bytes_before_ + fmt_->pb->bytes_read, std::memory_order_relaxed);
    }
    if (r < 0) {
      if (r == AVERROR(EAGAIN)) continue;
      // A live stream ends only when its station stays gone. A close is
      // AVERROR_EOF, or EIO when the server did not say it would close.
      if (reconnect(r == AVERROR_EOF || r == AVERROR(EIO))) continue;
      if (!dec_) {
        input_eof_ = true;
        return -1;
      }
      input_eof_ = true;
      avcodec_send_packet(dec_, nullptr);
      continue;
    }
    if (req_.is_url)
      poll_live_metadata();
    else
      poll_stream_metadata();
    if (pkt_->stream_index != stream_) {
      if (pkt_->stream_index == id3_stream_) take_timed_id3();
      av_packet_unref(pkt_);
      continue;
    }
    if (index_ && !index_->ready() && pkt_->pos >= free_until_) {
      // Past the start: not without the length to cut the end at.
      index_->wait();
      if (thread_.stopping()) {
        av_packet_unref(pkt_);
        return -1;
      }
    }
    if (const std::vector<PacketMark>* table = packet_table(); table && pkt_->pos >= 0) {
      // After a byte seek the demuxer guesses timestamps; the table knows them.
      auto it = std::lower_bound(table->begin(), table->end(), pkt_->pos,
                                 [](const PacketMark& m, int64_t p) { return m.pos < p; });
      if (it != table->end() && it->pos == pkt_->pos) {
        pkt_->pts = pkt_->dts = it->pts;
        // It also believes it is at the start again and asks the decoder to drop
        // the encoder delay: only the file's first packet carries that.
        size_t sd_size = 0;
        uint8_t* sd = av_packet_get_side_data(pkt_, AV_PKT_DATA_SKIP_SAMPLES, &sd_size);
        if (sd && sd_size >= 4 && it != table->begin()) AV_WL32(sd, 0);
      }
    }
    // FFmpeg's Opus decoder keeps the channel count it was opened with; a
    // chained part whose header says another count gets a decoder of its own
    // (the old one holds nothing more: all it gave was received).
    const AVStream* st = fmt_->streams[stream_];
    if (dec_->codec_id == AV_CODEC_ID_OPUS && st->codecpar->ch_layout.nb_channels > 0 &&
        st->codecpar->ch_layout.nb_channels != dec_->ch_layout.nb_channels) {
      if (AVCodecContext* fresh = open_decoder(st, dec_->codec)) {
        avcodec_free_context(&dec_);
        dec_ = fresh;
      }
    }
    r = avcodec_send_packet(dec_, pkt_);
    av_packet_unref(pkt_);
    if (r < 0 && r != AVERROR(EAGAIN)) {
      // A damaged packet is skipped; the decoder goes on with the next one.
      if (++bad_packets > kMaxProbePackets && !req_.is_url) return -1;
    }
  }
}

void FfmpegSource::poll_stream_metadata() {
  AVStream* st = fmt_->streams[stream_];
  if ((st->event_flags & AVSTREAM_EVENT_FLAG_METADATA_UPDATED) ||
      (fmt_->event_flags & AVFMT_EVENT_FLAG_METADATA_UPDATED)) {
    st->event_flags &= ~AVSTREAM_EVENT_FLAG_METADATA_UPDATED;
    fmt_->event_flags &= ~AVFMT_EVENT_FLAG_METADATA_UPDATED;
    // The next part's tags (a chained Ogg part) hold from its first frame.
    if (skip_until_ != INT64_MAX) read_container_tags(next_index_);
  }
}

void FfmpegSource::read_container_tags(int64_t at) {
  const AVDictionary* f = fmt_->metadata;
  const AVDictionary* s = fmt_->streams[stream_]->metadata;
  static const std::initializer_list<const char*> keys[7] = {
      {"track", "tracknumber"},  {"title"}, {"artist"}, {"album"}, {"genre"}, {"date", "year"},
      {"comment", "description"}};
  std::array<std::string, 7> tags;
  for (size_t i = 0; i < tags.size(); ++i) {
    // Most containers keep tags on the file; Ogg keeps them on the audio stream.
    tags[i] = dict_get(f, keys[i]);
    if (tags[i].empty()) tags[i] = dict_get(s, keys[i]);
  }
  if (at >= 0) {
    // Ogg merges a chained part's comments into what the stream had: read,
    // they go, so that the next part's come alone.
    if (std::strcmp(fmt_->iformat->name, "ogg") == 0) av_dict_free(&fmt_->streams[stream_]->metadata);
    mark(at, 0, 0, &tags);
    return;
  }
  std::lock_guard lk(tags_mu_);
  container_tags_ = std::move(tags);
}

bool FfmpegSource::position_before(int64_t frame) {
  // A chained file's timestamps start afresh in every part: it is decoded
  // from its start instead.
  if (frame <= 0 || origin_pts_ == AV_NOPTS_VALUE || chained_) return false;
  const AVRational tb = fmt_->streams[stream_]->time_base;
  const int64_t ts = origin_pts_ + av_rescale_q(frame, AVRational{1, info_.rate}, tb);
  bool ok = false;
  if (const std::vector<PacketMark>* table = packet_table()) {
    // The packet at or before ts, by the table's exact timestamps.
    auto it =
        std::upper_bound(table->begin(), table->end(), ts, [](int64_t t, const PacketMark& m) { return t < m.pts; });
    if (it == table->begin()) return false;
    --it;
    ok = av_seek_frame(fmt_, stream_, it->pos, AVSEEK_FLAG_BYTE) >= 0;
  } else {
    ok = avformat_seek_file(fmt_, stream_, INT64_MIN, ts, ts, 0) >= 0 ||
         av_seek_frame(fmt_, stream_, ts, AVSEEK_FLAG_BACKWARD) >= 0;
  }
  if (!ok) return false;
  avcodec_flush_buffers(dec_);
  input_eof_ = false;
  resync_ = true;
  return true;
}

int64_t FfmpegSource::frames_file_can_hold() const {
  // Whatever the headers say, a file cannot hold more frames than its bytes
  // carry: exactly so for PCM-like codecs (a fixed number of bits a
  // sample), and for compressed ones far fewer than kMaxFramesPerByte. Kept
  // small enough that a length in bytes (frames x channels x 2) fits 63 bits.
  constexpr int64_t kCap = INT64_MAX / (2 * kMaxSourceChannels);
  if (req_.file_size < 0) return kCap;
  const AVCodecParameters* par = fmt_->streams[stream_]->codecpar;
  const int bits = av_get_bits_per_sample(par->codec_id);
  const int64_t size = std::min<int64_t>(req_.file_size, kCap / kMaxFramesPerByte);
  if (bits > 0) return size * 8 / (int64_t{bits} * info_.channels);
  return size * kMaxFramesPerByte;
}

bool FfmpegSource::determine_length() {
  AVStream* st = fmt_->streams[stream_];
  const AVCodecID id = st->codecpar->codec_id;
  const AVRational rate_tb{1, info_.rate};
  const bool mpeg_audio = id == AV_CODEC_ID_MP3 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP1;
  const int64_t most = frames_file_can_hold();
  // Raw elementary streams have no index: their timestamps after a seek are guesses.
  const bool raw_stream = av_match_list(fmt_->iformat->name, "mp3,aac,ac3,eac3,dts,truehd,mlp,loas", ',') > 0;
  // A header that promises more than the file holds lies (or the file was
  // cut short): count what decodes instead.
  const int64_t declared =
      st->duration != AV_NOPTS_VALUE && st->duration >= 0 ? av_rescale_q(st->duration, st->time_base, rate_tb) : -1;
  const bool plausible = declared >= 0 && declared <= most;
  // MPEG audio and AAC: the container's figure counts encoder delay and padding
  // the decoder trims (or estimates from the bitrate), so count what decodes.
  if (std::strcmp(fmt_->iformat->name, "ogg") == 0 && req_.readable_bytes < 0) {
    if (const auto seconds = ogg_chained_seconds(req_.location)) {
      // Parts at other rates are resampled to this one, a few frames more
      // or less at each seam: the sum is close, not exact.
      chained_ = true;
      info_.length_frames = std::clamp<int64_t>(std::llround(*seconds * info_.rate), 0, most);
      return true;
    }
  }
  const bool count_decoded = raw_stream || mpeg_audio || id == AV_CODEC_ID_AAC || !plausible ||
                             fmt_->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
  if (!count_decoded) {
    int64_t frames = declared;
    // Opus pre-skip is inside the container's duration but never decoded.
    if (id == AV_CODEC_ID_OPUS) frames -= st->codecpar->initial_padding;
    info_.length_frames = std::clamp<int64_t>(frames, 0, most);
    length_exact_ = true;
    return true;
  }
  int64_t estimate = -1;
  if (declared >= 0)
    estimate = declared;
  else if (fmt_->duration != AV_NOPTS_VALUE && fmt_->duration >= 0)
    estimate = av_rescale_q(fmt_->duration, AV_TIME_BASE_Q, rate_tb);
  estimate = std::min(estimate, most);
  if (raw_stream) {
    // The demuxer only estimates where a seek in a raw stream (VBR MP3, ADTS)
    // lands and how long it is: the index counts every packet, beside the
    // decoder. A file small enough that the decoder would reach its end at
    // once is indexed before opening returns.
    PacketIndex::Params p;
    p.location = req_.location;
    p.stream = stream_;
    p.rate = info_.rate;
    p.first_frame_frames = first_frame_frames_;
    p.most = most;
    p.estimate = estimate;
    p.mpeg_audio = mpeg_audio;
    p.frames_have_sync = mpeg_audio || std::strcmp(fmt_->iformat->name, "aac") == 0;
    if (std::strcmp(fmt_->iformat->name, "mp3") == 0)
      p.syntax = FrameSyntax::mpeg_audio;
    else if (std::strcmp(fmt_->iformat->name, "aac") == 0)
      p.syntax = FrameSyntax::adts;
    p.limit_ns = int64_t{kScanLimitMs} * 1000000;
    index_ = std::make_unique<PacketIndex>();
    index_->start(std::move(p));
    free_until_ = (fmt_->pb ? avio_tell(fmt_->pb) : 0) + kFreeBytes;
    if (req_.file_size <= free_until_) index_->wait();
    return true;
  }
  // Decode the whole file when short, else only its tail.
  const int64_t give_up = now_ns() + int64_t{kScanLimitMs} * 1000000;
  bool complete = true;
  skip_until_ = INT64_MAX;  // counting only: keep nothing
  const int64_t tail = int64_t{info_.rate} * 10;
  if (complete && estimate > tail * 3) {
    if (!position_before(estimate - tail)) next_index_ = 0;
    skip_until_ = INT64_MAX;
  }
  while (complete && next_frame() >= 0) {
    if (thread_.stopping() || now_ns() > give_up) complete = false;
  }
  overshoot_ = false;
  const int64_t counted = next_index_;
  if (!rewind()) return false;
  if (complete && counted > 0) {
    // Counted by timestamps, which damage can inflate as well.
    info_.length_frames = std::min(counted, most);
    length_exact_ = true;
  } else {
    info_.length_frames = std::max<int64_t>(estimate, 0);
  }
  return true;
}

}  // namespace tovarin::audio::decode

namespace tovarin::audio::decode {

int64_t FfmpegSource::length(bool wait) const {
  if (!index_) return info_.length_frames;
  const PacketIndex::Result* r = wait ? &index_->wait() : index_->ready();
  return r ? r->length : -1;
}

int64_t FfmpegSource::cut_length() const {
  if (!index_) return length_exact_ ? info_.length_frames : -1;
  const PacketIndex::Result* r = index_->ready();
  return r && r->exact ? r->length : -1;
}

const std::vector<PacketMark>* FfmpegSource::packet_table() const {
  const PacketIndex::Result* r = index_ ? index_->ready() : nullptr;
  return r && !r->table.empty() ? &r->table : nullptr;
}

}  // namespace tovarin::audio::decode
