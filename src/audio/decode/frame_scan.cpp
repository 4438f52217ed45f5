#include "audio/decode/frame_scan.hpp"

#include <algorithm>
#include <cstring>

#include "platform/platform.hpp"

namespace tovarin::audio::decode {

namespace {

uint32_t be32(const uint8_t* b) { return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]; }

// MPEG audio: what FFmpeg's parser takes for a frame header (a sync, a known
// version, layer, rate and bit rate; free format is no header to it).
bool mpeg_header(uint32_t h) {
  return (h & 0xFFE00000) == 0xFFE00000 && (h & (3u << 19)) != 1u << 19 && (h & (3u << 17)) != 0 &&
         (h & (0xFu << 12)) != 0xFu << 12 && (h & (0xFu << 12)) != 0 && (h & (3u << 10)) != 3u << 10;
}

// Sync, version, layer and rate: what the parser requires to stay the same
// for its frames' durations to stay the same.
constexpr uint32_t kMpegFormatMask = 0xFFE00000 | 3u << 19 | 3u << 17 | 3u << 10;

// A frame's size in bytes by its header (valid by mpeg_header).
int mpeg_frame_bytes(uint32_t h) {
  static constexpr uint16_t kKbps[2][3][15] = {{{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                                {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                                {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
                                               {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                                {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                                {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  static constexpr int kRates[3] = {44100, 48000, 32000};
  const bool mpeg25 = !(h & (1u << 20));
  const int lsf = mpeg25 || !(h & (1u << 19)) ? 1 : 0;
  const int layer = 4 - static_cast<int>((h >> 17) & 3);
  const int rate = kRates[(h >> 10) & 3] >> (lsf + (mpeg25 ? 1 : 0));
  const int kbps = kKbps[lsf][layer - 1][(h >> 12) & 0xF];
  const int padding = (h >> 9) & 1;
  if (layer == 1) return (kbps * 12000 / rate + padding) * 4;
  if (layer == 2) return kbps * 144000 / rate + padding;
  return kbps * 144000 / (rate << lsf) + padding;
}

// Whether to give up: cancelled, or past the deadline (steady clock, ns).
bool stop(const std::atomic<bool>& cancel, int64_t deadline_ns) {
  return cancel.load(std::memory_order_relaxed) || platform::now_ns() > deadline_ns;
}

bool adts_sync(const uint8_t* b) { return b[0] == 0xFF && (b[1] & 0xF0) == 0xF0; }

// ADTS: the fixed header (version, layer, CRC, profile, rate, channels) and
// the number of raw blocks (the frame's duration).
bool adts_same(const uint8_t* a, const uint8_t* b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && (a[3] & 0xC0) == (b[3] & 0xC0) && (a[6] & 3) == (b[6] & 3);
}

int adts_frame_bytes(const uint8_t* b) { return (b[3] & 3) << 11 | b[4] << 3 | b[5] >> 5; }

// Large sequential reads of a file, looked at through a window.
class Reader {
 public:
  explicit Reader(const std::string& path) : fd_(platform::open_read(path)), buf_(size_t{4} << 20) {
    size_ = fd_ >= 0 ? platform::file_size(fd_) : -1;
  }
  ~Reader() { platform::close_file(fd_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  int64_t size() const { return size_; }
  bool failed() const { return failed_; }
  // n bytes at pos (n at most the buffer's size), or null past the end or on
  // a read error (failed() tells which).
  const uint8_t* at(int64_t pos, size_t n) {
    if (pos >= off_ && pos + static_cast<int64_t>(n) <= off_ + static_cast<int64_t>(len_))
      return buf_.data() + (pos - off_);
    if (pos < 0 || pos + static_cast<int64_t>(n) > size_) return nullptr;
    off_ = pos;
    len_ = 0;
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buf_.size()), size_ - pos));
    while (len_ < want) {
      const int64_t got = platform::read_some_at(fd_, buf_.data() + len_, want - len_, pos + len_);
      if (got <= 0) break;
      len_ += static_cast<size_t>(got);
    }
    if (len_ < n) {
      failed_ = true;
      return nullptr;
    }
    return buf_.data();
  }
  // The bytes from pos to at most the buffer's size further (fewer at the end).
  const uint8_t* span(int64_t pos, size_t* n) {
    *n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buf_.size()), size_ - pos));
    return *n ? at(pos, *n) : buf_.data();
  }

 private:
  int fd_;
  int64_t size_ = -1;
  std::vector<uint8_t> buf_;
  int64_t off_ = 0;
  size_t len_ = 0;
  bool failed_ = false;
};

// True when no frame could start in [pos, end): the demuxer finds nothing
// more to count there. A frame needs a sync: 0xFF, then three (ADTS: four)
// set bits; for MPEG audio the parser wants a whole valid header.
bool no_frame_after(Reader& in, FrameSyntax syntax, int64_t pos, const std::atomic<bool>& cancel, int64_t deadline_ns) {
  while (pos < in.size()) {
    if (stop(cancel, deadline_ns)) return false;
    size_t n = 0;
    const uint8_t* b = in.span(pos, &n);
    if (!b) return false;
    // Within this span, headers that do not cross its end.
    for (size_t i = 0; i + 1 < n; ++i) {
      const void* ff = std::memchr(b + i, 0xFF, n - 1 - i);
      if (!ff) break;
      i = static_cast<size_t>(static_cast<const uint8_t*>(ff) - b);
      if (syntax == FrameSyntax::adts) {
        if (adts_sync(b + i)) return false;
      } else if ((b[i + 1] & 0xE0) == 0xE0) {
        if (i + 4 > n) break;  // looked at again from the next span
        if (mpeg_header(be32(b + i))) return false;
      }
    }
    if (pos + static_cast<int64_t>(n) >= in.size()) return true;
    pos += static_cast<int64_t>(n) - 3;  // a header across the end is seen whole next time
  }
  return true;
}

}  // namespace

bool same_frame_format(FrameSyntax syntax, const uint8_t* a, const uint8_t* b) {
  switch (syntax) {
    case FrameSyntax::mpeg_audio:
      return mpeg_header(be32(a)) && mpeg_header(be32(b)) && (be32(a) & kMpegFormatMask) == (be32(b) & kMpegFormatMask);
    case FrameSyntax::adts: return adts_sync(a) && adts_same(a, b);
    case FrameSyntax::none: break;
  }
  return false;
}

std::optional<std::vector<int64_t>> scan_frames(const std::string& path, FrameSyntax syntax, const uint8_t* ref,
                                                int64_t pos, const std::atomic<bool>& cancel, int64_t deadline_ns) {
  if (syntax == FrameSyntax::none || !same_frame_format(syntax, ref, ref)) return std::nullopt;
  Reader in(path);
  if (in.size() < 0) return std::nullopt;
  std::vector<int64_t> starts;
  const uint32_t ref_format = be32(ref) & kMpegFormatMask;
  const size_t header = syntax == FrameSyntax::adts ? 7 : 4;
  // Frames back to back in ref's format; the loop ends at the first place
  // where none starts.
  for (int64_t count = 0; pos < in.size(); ++count) {
    if ((count & 0xFFFF) == 0 && stop(cancel, deadline_ns)) return std::nullopt;
    const uint8_t* b = in.at(pos, header);
    if (!b) break;
    int size = 0;
    if (syntax == FrameSyntax::mpeg_audio) {
      const uint32_t h = be32(b);
      if (!mpeg_header(h) || (h & kMpegFormatMask) != ref_format) break;
      size = mpeg_frame_bytes(h);
      // A frame cut by the end is handed on as it is, timed like a whole one.
    } else {
      if (!adts_sync(b) || !adts_same(b, ref)) break;
      size = adts_frame_bytes(b);
      // Shorter than its header, or cut by the end: the demuxer's own business.
      if (size < ((b[1] & 1) ? 7 : 9) || pos + size > in.size()) return std::nullopt;
    }
    starts.push_back(pos);
    pos += size;
  }
  if (in.failed()) return std::nullopt;
  if (pos < in.size() && !no_frame_after(in, syntax, pos, cancel, deadline_ns)) return std::nullopt;
  if (in.failed()) return std::nullopt;
  return starts;
}

}  // namespace tovarin::audio::decode
