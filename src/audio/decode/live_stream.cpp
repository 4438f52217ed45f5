// Live streams: a dropped station connected afresh, ICY headers and titles.
#include "audio/decode/ffmpeg_source.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "audio/bass.h"
#include "audio/decode/id3.hpp"
#include "audio/decode/text.hpp"
#include "audio/device/backoff.hpp"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace tovarin::audio::decode {

namespace {

// A live stream that drops is connected afresh: at once, then after back-offs
// that double up to a second, all within the stream's data timeout after the
// drop. A station that drops more often than this in a minute is let go.
constexpr int kReconnectAttempts = 6;
constexpr std::chrono::milliseconds kFirstBackoff{250};
constexpr std::chrono::milliseconds kLongestBackoff{1000};
constexpr size_t kMaxDropsPerMinute = 3;

// Reads "Name: value" lines of raw ICY headers.
std::string header_value(std::string_view headers, std::string_view name) {
  size_t at = 0;
  while (at < headers.size()) {
    size_t end = headers.find('\n', at);
    if (end == std::string_view::npos) end = headers.size();
    std::string_view line = headers.substr(at, end - at);
    at = end + 1;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < colon && same; ++i) same = std::tolower(static_cast<unsigned char>(line[i])) == name[i];
    if (!same) continue;
    std::string_view v = line.substr(colon + 1);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == '\r' || v.back() == ' ')) v.remove_suffix(1);
    return to_utf8(v);
  }
  return {};
}

}  // namespace

bool FfmpegSource::reconnect(bool closed) {
  // Not while opening (the open's own bound rules), nor for a stream of known
  // length, whose end is its end. A file served without a length also ends
  // with the server closing: that is a drop only for a station (it answered
  // with icy- headers); a reset or a silence is a drop whatever the server.
  if (!req_.is_url || content_length_ >= 0 || open_deadline_ns_ != 0 || thread_.stopping() || (closed && !station_))
    return false;
  const int64_t dropped = now_ns();
  std::erase_if(drops_, [&](int64_t t) { return dropped - t > int64_t{60} * 1000000000; });
  if (drops_.size() >= kMaxDropsPerMinute) return false;
  drops_.push_back(dropped);
  if (fmt_ && fmt_->pb) bytes_before_ += fmt_->pb->bytes_read;
  close_input();
  const int64_t give_up = dropped + int64_t{req_.data_timeout_ms} * 1000000;
  Backoff backoff(kFirstBackoff, kLongestBackoff);
  for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
    if (attempt > 0) {
      const int64_t left_ms = (give_up - now_ns()) / 1000000;
      if (left_ms <= 0) break;
      const Backoff::Duration wait = std::min<Backoff::Duration>(backoff.next(), std::chrono::milliseconds(left_ms));
      if (thread_.sleep_unless_stopped(wait)) break;
    }
    if (thread_.stopping() || now_ns() >= give_up) break;
    // Connecting, the headers and the probe all end by give_up.
    deadline_ns_.store(give_up);
    if (open_input() == BASS_OK) {
      last_audio_ns_ = now_ns();
      read_container_tags();
      read_icy_headers();
      return true;
    }
    close_input();
  }
  set_deadline_ms(0);
  return false;
}

void FfmpegSource::read_icy_headers() {
  uint8_t* headers = nullptr;
  if (fmt_->pb && av_opt_get(fmt_->pb, "icy_metadata_headers", AV_OPT_SEARCH_CHILDREN, &headers) >= 0 && headers) {
    std::string_view h(reinterpret_cast<char*>(headers));
    station_ = station_ || !h.empty();
    std::lock_guard lk(tags_mu_);
    icy_name_ = header_value(h, "icy-name");
    icy_genre_ = header_value(h, "icy-genre");
    icy_description_ = header_value(h, "icy-description");
    av_free(headers);
  }
}

void FfmpegSource::poll_live_metadata() {
  uint8_t* packet = nullptr;
  if (fmt_->pb && av_opt_get(fmt_->pb, "icy_metadata_packet", AV_OPT_SEARCH_CHILDREN, &packet) >= 0 && packet) {
    std::string raw(reinterpret_cast<char*>(packet));
    av_free(packet);
    // Empty until the connection's first metadata block: a reconnected
    // stream keeps the title it had until the station sends one.
    if (!raw.empty() && raw != last_icy_packet_) {
      last_icy_packet_ = raw;
      std::string title = to_utf8(icy_stream_title(raw));
      std::lock_guard lk(tags_mu_);
      live_title_ = std::move(title);
    }
  }
  poll_stream_metadata();
}

// HLS sends the song's title as ID3: packed-audio segments start with a tag
// the demuxers put into the stream's metadata themselves; MPEG-TS segments
// carry tags in a timed-metadata stream of their own, read here into the
// same metadata, so that both change the tags where the song changes.
int FfmpegSource::timed_id3_stream() const {
  if (!req_.hls) return -1;
  for (unsigned i = 0; i < fmt_->nb_streams; ++i)
    if (fmt_->streams[i]->codecpar->codec_id == AV_CODEC_ID_TIMED_ID3) return static_cast<int>(i);
  return -1;
}

void FfmpegSource::take_timed_id3() {
  const Id3Text t = read_timed_id3(pkt_->data, static_cast<size_t>(pkt_->size));
  if (t.title.empty() && t.artist.empty()) return;
  AVDictionary** md = &fmt_->streams[stream_]->metadata;
  av_dict_set(md, "title", t.title.empty() ? nullptr : t.title.c_str(), 0);
  av_dict_set(md, "artist", t.artist.empty() ? nullptr : t.artist.c_str(), 0);
  if (skip_until_ != INT64_MAX) read_container_tags(next_index_);
}

}  // namespace tovarin::audio::decode
