#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "audio/bass.h"
#include "audio/decode/ffmpeg_source.hpp"
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

std::unique_ptr<Source> open_file_source(const std::string& path, int* error) {
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
  try {
    return decode::FfmpegSource::open(req, error);
  } catch (const std::bad_alloc&) {
    if (error) *error = BASS_ERROR_MEM;
    return nullptr;
  }
}

std::unique_ptr<Source> open_url_source(const std::string& url, int* error, int connect_timeout_ms,
                                        int data_timeout_ms) {
  quiet_ffmpeg_log();
  decode::OpenRequest req;
  req.location = url;
  req.is_url = true;
  req.connect_timeout_ms = connect_timeout_ms > 0 ? connect_timeout_ms : 5000;
  req.data_timeout_ms = data_timeout_ms > 0 ? data_timeout_ms : 5000;
  try {
    return decode::FfmpegSource::open(req, error);
  } catch (const std::bad_alloc&) {
    if (error) *error = BASS_ERROR_MEM;
    return nullptr;
  }
}

}  // namespace tovarin::audio
