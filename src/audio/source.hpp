// A decoded sound source that the mixer pulls from.
//
// A Source decodes on its own thread (started by start()) into a ring buffer
// of interleaved float frames at the source's own rate and channel count;
// one opened for a single reader that never mixes it (a decoding stream)
// may decode inside read() instead.
// The mixer's thread calls only read(), finished() and position(); they never
// block, allocate or take a lock that another thread may hold for long. The
// control thread calls everything else. Destroying a Source stops its thread
// (bounded: at most a few hundred milliseconds even on a stalled network).
//
// Seeking (seek_to) runs on the control thread: it may block briefly (until
// the decoder has repositioned, bounded), and once it returns the next frame
// that read() delivers is exactly frame `frame` of the source. The mixer must
// not call read() concurrently with seek_to(); the owner guarantees that
// (the channel pauses its reads around a seek).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace tovarin::audio {

// What any output device plays and what the mixer mixes: a source declaring
// more is refused when it opens.
constexpr int kMaxSourceRate = 768000;  // Hz
constexpr int kMaxSourceChannels = 8;

struct SourceInfo {
  int rate = 0;      // Hz
  int channels = 0;  // 1..kMaxSourceChannels
  // Exact decoded length when known at open; -1 unknown (live streams) or
  // not yet known (see Source::length()).
  int64_t length_frames = -1;
  int bits = 0;  // original resolution, 0 when unknown/lossy
  bool is_url = false;
  std::string location;  // path or URL as given
};

// Tag keys asked of a source.
enum class TagKey { Track, Title, Artist, Album, Genre, Year, Comment };

class Source {
 public:
  virtual ~Source() = default;

  // ---- control thread ----
  virtual const SourceInfo& info() const = 0;
  // Exact decoded length in frames; -1 when unknown (live streams). A file
  // whose length needs counting may still be counted after it opened: this
  // waits for the count (bounded: a few seconds at most), or answers -1
  // meanwhile when `wait` is false.
  virtual int64_t length(bool wait = true) const {
    (void)wait;
    return info().length_frames;
  }
  // Begins decoding (prefilling the ring).
  virtual void start() = 0;
  // Sample-accurate seek; false when the source cannot seek (live) or the
  // frame is past the end.
  virtual bool seek_to(int64_t frame) = 0;
  // BASS_FILEPOS_* positions in bytes of the source file or download;
  // -1 when unknown.
  virtual int64_t file_position(uint32_t mode) const = 0;
  // Tag text (UTF-8), empty when missing. Live sources answer the current
  // live title for TagKey::Title when the station sends one.
  virtual std::string tag(TagKey key) const = 0;
  // The rate and channel count of the part being heard. A source that
  // changes format on the way (chained parts, a station back in another
  // format) still delivers frames in info()'s format, resampled.
  virtual void heard_format(int* rate, int* channels) const {
    *rate = info().rate;
    *channels = info().channels;
  }

  // ---- mixer thread ----
  // Copies up to `frames` frames into out (info().channels floats each),
  // returning how many. Fewer than asked means the decoder is behind
  // (underrun) or the source has ended.
  virtual size_t read(float* out, size_t frames) = 0;
  // True while every frame read so far is finite and within full scale
  // (decoded from integer samples): the reader may skip its repair of stray
  // values. Asked after read(), it covers what read() gave.
  virtual bool bounded() const { return false; }
  // True once everything decoded has been read and nothing more will come
  // (end of file, fatal decode error, network end).
  virtual bool finished() const = 0;
  // Frame index of the next frame read() will deliver.
  virtual int64_t position() const = 0;
  // Waits, at most `ms`, until `frames` frames can be read (or as many as
  // the source buffers, or its end). For a reader that pulls faster than
  // the source decodes; never called by the mixer.
  virtual void wait_readable(size_t frames, int ms) {
    (void)frames;
    (void)ms;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
};

// Opens a local regular file. On failure returns null and sets *error to a
// BASS_ERROR_* code (FILEOPEN: missing/not a regular file; FILEFORM: no audio
// or unknown format).
// pulled: only the caller reads it, never the mixer (a decoding stream);
// it then decodes inside read(), on the caller's thread.
std::unique_ptr<Source> open_file_source(const std::string& path, int* error, bool pulled = false);

// Opens an http:/https: stream, waiting until audio can start (bounded by
// connect_timeout_ms to connect and data_timeout_ms without data, and the
// whole try by the longer of them and a second). An HLS address plays
// through FFmpeg's HLS demuxer; a .pls/.m3u playlist's http/https entries
// are tried in order (nested two deep), and the stream keeps `url` as its
// name while it plays (and reconnects to) the entry that opened.
std::unique_ptr<Source> open_url_source(const std::string& url, int* error, int connect_timeout_ms = 5000,
                                        int data_timeout_ms = 5000);

}  // namespace tovarin::audio
