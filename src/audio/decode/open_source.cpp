#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include "audio/bass.h"
#include "audio/decode/ffmpeg_source.hpp"
#include "audio/decode/playlist.hpp"
#include "audio/decode/riff_scan.hpp"
#include "audio/source.hpp"
#include "platform/platform.hpp"

namespace tovarin::audio {

namespace {
// FFmpeg logs damaged input to standard error, which is the host's terminal.
// Quiet it, unless the host has chosen a log level of its own.
void quiet_ffmpeg_log() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_QUIET);
  });
}
}  // namespace

std::unique_ptr<Source> open_file_source(const std::string& path, int* error, bool pulled) {
  int64_t size = 0;
  // Only regular files: a FIFO or a device would block the reader or never end.
  if (!platform::regular_file(path, &size)) {
    if (error) *error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  quiet_ffmpeg_log();
  decode::OpenRequest req;
  req.location = path;
  req.file_size = size;
  req.readable_bytes = decode::wave_readable_prefix(path, req.file_size);
  req.decode_in_reader = pulled;
  try {
    return decode::FfmpegSource::open(req, error);
  } catch (const std::bad_alloc&) {
    if (error) *error = BASS_ERROR_MEM;
    return nullptr;
  }
}

namespace {

// What a playlist may be: more is not read (the entries in it still count).
constexpr int64_t kMostPlaylistBytes = 256 * 1024;
// A playlist's entries may be playlists, and theirs are not followed.
constexpr int kMostPlaylistDepth = 2;

int stop_at_deadline(void* opaque) { return decode::now_ns() > *static_cast<const int64_t*>(opaque); }

bool is_http(const std::string& url) {
  auto starts = [&](const char* scheme) {
    const size_t n = std::strlen(scheme);
    if (url.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
      if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
    return true;
  };
  return starts("http://") || starts("https://");
}

// Opens a station's address: audio, HLS, or a playlist whose entries are
// tried in turn, all by one deadline.
struct UrlOpener {
  decode::OpenRequest base;  // timeouts, deadline, the host's address as name
  int error = BASS_ERROR_FILEFORM;

  std::unique_ptr<Source> open(const std::string& url, int depth) {
    if (decode::now_ns() >= base.deadline_ns) {
      error = BASS_ERROR_TIMEOUT;
      return nullptr;
    }
    switch (decode::playlist_kind("", url, "")) {
      case decode::PlaylistKind::Hls: return open_audio(url, true);
      case decode::PlaylistKind::Pls:
      case decode::PlaylistKind::M3u: return open_list(url, depth);
      case decode::PlaylistKind::None: break;
    }
    // Most addresses are audio; one that is not may be a playlist by its
    // content type or its text.
    if (auto s = open_audio(url, false)) return s;
    return error == BASS_ERROR_FILEFORM ? open_list(url, depth) : nullptr;
  }

  std::unique_ptr<Source> open_audio(const std::string& url, bool hls) {
    decode::OpenRequest req = base;
    req.location = url;
    req.hls = hls;
    try {
      auto s = decode::FfmpegSource::open(req, &error);
      return s;
    } catch (const std::bad_alloc&) {
      error = BASS_ERROR_MEM;
      return nullptr;
    }
  }

  std::unique_ptr<Source> open_list(const std::string& url, int depth) {
    std::string type, location = url, text;
    if (!fetch(url, type, location, text)) return nullptr;
    const decode::PlaylistKind kind = decode::playlist_kind(type, url, text);
    if (kind == decode::PlaylistKind::Hls) return open_audio(url, true);
    error = BASS_ERROR_FILEFORM;
    if (kind == decode::PlaylistKind::None || depth >= kMostPlaylistDepth) return nullptr;
    for (const std::string& entry : decode::playlist_entries(text)) {
      // Only stations: a playlist never opens a local file or another protocol.
      const std::string target = decode::resolve_reference(location, entry);
      if (!is_http(target)) continue;
      if (auto s = open(target, depth + 1)) return s;
      if (error == BASS_ERROR_TIMEOUT) break;
    }
    return nullptr;
  }

  // The body of url (at most kMostPlaylistBytes), its content type and
  // where it was found after redirects.
  bool fetch(const std::string& url, std::string& type, std::string& location, std::string& text) {
    AVDictionary* opts = nullptr;
    decode::set_http_options(&opts, base);
    AVIOInterruptCB stop{&stop_at_deadline, &base.deadline_ns};
    AVIOContext* io = nullptr;
    const int r = avio_open2(&io, url.c_str(), AVIO_FLAG_READ, &stop, &opts);
    av_dict_free(&opts);
    if (r < 0) {
      error = decode::now_ns() > base.deadline_ns ? BASS_ERROR_TIMEOUT : BASS_ERROR_FILEOPEN;
      return false;
    }
    for (const auto& [key, out] : {std::pair<const char*, std::string*>{"mime_type", &type}, {"location", &location}}) {
      uint8_t* value = nullptr;
      if (av_opt_get(io, key, AV_OPT_SEARCH_CHILDREN, &value) >= 0 && value) {
        if (*value) *out = reinterpret_cast<char*>(value);
        av_free(value);
      }
    }
    text.resize(static_cast<size_t>(kMostPlaylistBytes));
    int64_t have = 0;
    while (have < kMostPlaylistBytes) {
      const int n = avio_read(io, reinterpret_cast<unsigned char*>(text.data()) + have,
                              static_cast<int>(kMostPlaylistBytes - have));
      if (n <= 0) break;
      have += n;
    }
    text.resize(static_cast<size_t>(have));
    // A cut list's last line may be cut too.
    if (have == kMostPlaylistBytes) text.erase(std::min(text.size(), text.find_last_of('\n') + 1));
    avio_closep(&io);
    if (decode::now_ns() > base.deadline_ns) {
      error = BASS_ERROR_TIMEOUT;
      return false;
    }
    return true;
  }
};

}  // namespace

std::unique_ptr<Source> open_url_source(const std::string& url, int* error, int connect_timeout_ms,
                                        int data_timeout_ms) {
  quiet_ffmpeg_log();
  UrlOpener opener;
  opener.base.is_url = true;
  opener.base.name = url;
  opener.base.connect_timeout_ms = connect_timeout_ms > 0 ? connect_timeout_ms : 5000;
  opener.base.data_timeout_ms = data_timeout_ms > 0 ? data_timeout_ms : 5000;
  // The whole try, playlists and all, is bounded as opening one stream is.
  opener.base.deadline_ns =
      decode::now_ns() +
      (std::max(opener.base.connect_timeout_ms, opener.base.data_timeout_ms) + 1000) * int64_t{1000000};
  auto source = opener.open(url, 0);
  if (error) *error = source ? BASS_OK : opener.error;
  return source;
}

}  // namespace tovarin::audio
