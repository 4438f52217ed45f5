// The FFmpeg-backed Source behind file and URL streams.
//
// One FfmpegSource owns one demuxer and one decoder. Opening happens on the
// caller's thread (bounded for URLs by an interrupt deadline); from then on
// it is a synchronous decoder run by a DecodeThread, which owns the ring the
// mixer drains, the seek hand-over and the stop. The control thread talks to
// the decoder only through the DecodeThread (seeks) and tags_mu_ (tags).
// Destruction stops the thread, which also aborts any blocking FFmpeg call
// through the interrupt callback.
//
// Its parts, by the thread that runs them: ffmpeg_source.cpp (opening and
// the control thread's queries), ffmpeg_decoder.cpp (the synchronous
// decoder: open, next frame, exact seek positioning, length),
// decode_thread.cpp (the thread around any decoder), live_stream.cpp
// (reconnects and ICY), sample_convert.cpp (samples).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/decode/decode_thread.hpp"
#include "audio/decode/packet_index.hpp"
#include "audio/decode/sample_convert.hpp"
#include "audio/source.hpp"
#include "platform/platform.hpp"

extern "C" {
struct AVDictionary;
struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct AVIOContext;
}

namespace tovarin::audio::decode {

using platform::now_ns;

struct OpenRequest {
  std::string location;  // path or URL as given
  bool is_url = false;
  int connect_timeout_ms = 5000;
  int data_timeout_ms = 5000;
  int64_t file_size = -1;  // files: from stat
  // Files: when >= 0, the demuxer sees only this many leading bytes (the
  // rest is damage it would mishandle).
  int64_t readable_bytes = -1;
  // URLs: opening ends by this steady-clock time too (0: none beyond the
  // timeouts), so that a playlist's entries share one bound.
  int64_t deadline_ns = 0;
  bool hls = false;  // through FFmpeg's HLS demuxer
  std::string name;  // the stream's name when not location (the playlist the host gave)
  // Only its caller pulls it (a decoding stream): decoded inside read().
  bool decode_in_reader = false;
};

// The options of every http(s) request: protocols, timeouts, TLS checks.
void set_http_options(AVDictionary** opts, const OpenRequest& req);
// The options of every local file's demuxer ("file:" URLs): the file
// protocol only, and only demuxers that read one audio file.
void set_file_options(AVDictionary** opts);

class FfmpegSource final : public Source, private DecodeThread::Decoder {
 public:
  // Opens and decodes the first audio; null with *error set on failure.
  static std::unique_ptr<FfmpegSource> open(const OpenRequest& req, int* error);
  ~FfmpegSource() override;

  const SourceInfo& info() const override { return info_; }
  int64_t length(bool wait = true) const override;
  void start() override;
  bool seek_to(int64_t frame) override;
  int64_t file_position(uint32_t mode) const override;
  std::string tag(TagKey key) const override;
  void heard_format(int* rate, int* channels) const override;

  size_t read(float* out, size_t frames) override { return thread_.read(out, frames); }
  bool finished() const override { return thread_.finished(); }
  bool bounded() const override { return thread_.bounded(); }
  int64_t position() const override { return thread_.position(); }
  void wait_readable(size_t frames, int ms) override { thread_.wait_readable(frames, ms); }

  static int interrupt_callback(void* opaque);
  // Raw streams: the count once it is done, else (or for other files) null.
  const PacketIndex::Result* packet_index() const { return index_ ? index_->ready() : nullptr; }

  // A file read only up to `size` bytes (OpenRequest::readable_bytes).
  struct Prefix {
    int fd = -1;
    int64_t size = 0, pos = 0;
  };

 private:
  explicit FfmpegSource(const OpenRequest& req);
  int open_input();  // BASS_OK or a BASS_ERROR_* code
  void close_input();
  bool open_prefix();  // fmt_ reads the file through prefix_
  bool rewind();       // reopen from the first sample
  FrameSink& sink() { return thread_.sink(); }
  int next_frame();   // 1: audio went to the sink, -1: the end
  bool take_frame();  // converts frame_ into the sink; false when all of it is dropped
  bool determine_length();
  // Decoder thread: the exact length that frames past it are cut at, -1 none (yet).
  int64_t cut_length() const;
  // The packet table once the index is built; null before (or without one).
  const std::vector<PacketMark>* packet_table() const;
  int64_t frames_file_can_hold() const;
  bool position_before(int64_t frame);  // demuxer at or before frame, decoder flushed
  // at < 0: the tags hold at once; else from frame `at` on (a chained part).
  void read_container_tags(int64_t at = -1);
  void poll_stream_metadata();
  void mark(int64_t at, int rate, int channels, const std::array<std::string, 7>* tags);
  void apply_marks() const;  // tags_mu_ held
  void read_icy_headers();
  void poll_live_metadata();
  int timed_id3_stream() const;  // HLS: the stream of MPEG-TS segments' ID3 tags, or -1
  void take_timed_id3();         // pkt_ holds an ID3 tag of it
  bool reconnect(bool closed);   // URL: a dropped live stream connected afresh (closed: by the server)
  void set_deadline_ms(int64_t ms);
  // ---- as the decode thread's decoder ----
  bool decode(FrameSink&) override { return next_frame() > 0; }
  bool seek(int64_t target, FrameSink&) override;
  void delivered() override;

  // ---- fixed after open ----
  OpenRequest req_;
  SourceInfo info_;
  bool length_exact_ = false;
  bool reopen_to_seek_ = false;  // seek from a freshly opened demuxer
  int runup_ = 0;                // frames decoded before a seek target to settle the decoder
  int64_t content_length_ = -1;  // URL: the server's Content-Length
  bool chained_ = false;         // a file of several Ogg parts: counted, never placed by timestamps
  // Raw streams: their length and packet table, built beside the decoder.
  // The decoder decodes packets before free_until_ (a byte position) while
  // it is being built and waits for it before any later one, so that the
  // end of the file is never decoded without the length to cut it at.
  std::unique_ptr<PacketIndex> index_;
  int64_t free_until_ = 0;

  // ---- decoder thread (the opening thread before it starts) ----
  AVFormatContext* fmt_ = nullptr;
  AVCodecContext* dec_ = nullptr;
  AVPacket* pkt_ = nullptr;
  AVFrame* frame_ = nullptr;
  Prefix prefix_;
  AVIOContext* prefix_io_ = nullptr;
  int stream_ = -1;
  int id3_stream_ = -1;
  int64_t origin_pts_;              // pts of frame 0, in the stream's time base
  int64_t first_frame_frames_ = 0;  // frames the first decoded frame gave
  int64_t next_index_ = 0;          // frame index of the next decoded sample
  bool resync_ = false;             // take the next frame's index from its pts (after a seek)
  bool overshoot_ = false;          // a seek landed after its target
  int64_t skip_until_ = 0;          // frames before this index are dropped
  bool input_eof_ = false;
  int64_t last_audio_ns_ = 0;     // URL: when audio was last decoded
  int64_t open_deadline_ns_ = 0;  // URL: opening must be done by then; 0 once open
  std::string last_icy_packet_;
  int64_t bytes_before_ = 0;                     // URL: bytes received by earlier connections
  std::vector<int64_t> drops_;                   // URL: when recent drops happened
  bool station_ = false;                         // URL: the server sent icy- headers
  std::unique_ptr<SampleConverter> converter_;   // to info_'s rate and channel count
  int decoded_rate_ = 0, decoded_channels_ = 0;  // format of the last frame decoded
  std::vector<float> resampled_;                 // a frame in another format, resampled

  // ---- any thread (atomics) ----
  std::atomic<int64_t> deadline_ns_{0};  // interrupt blocking FFmpeg calls after this; 0 none
  std::atomic<int64_t> bytes_pos_{0};
  std::atomic<int64_t> bytes_received_{0};

  // ---- guarded by tags_mu_ ----
  mutable std::mutex tags_mu_;
  mutable std::array<std::string, 7> container_tags_;  // by TagKey
  std::string live_title_, icy_name_, icy_genre_, icy_description_;
  // What changes once the mixer has read up to a frame: the next part's
  // format and tags. Applied by the control thread's queries.
  struct Mark {
    int64_t at;
    int rate, channels;
    bool has_tags;
    std::array<std::string, 7> tags;
  };
  mutable std::deque<Mark> marks_;
  mutable int heard_rate_ = 0, heard_channels_ = 0;

  // Last: stopped (by the destructor) before anything it decodes with goes.
  DecodeThread thread_;
};

}  // namespace tovarin::audio::decode
