#include "audio/decode/ogg_scan.hpp"

#include <cstring>
#include <vector>

#include "platform/platform.hpp"

namespace tovarin::audio::decode {
namespace {

// A file with more pages than this is not walked (the demuxer's figure stands).
constexpr int kMaxPages = 1 << 20;

uint64_t le(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

struct Part {
  uint32_t serial = 0;
  double rate = 0;    // granule positions per second
  int64_t skip = 0;   // granules never heard (Opus pre-skip)
  int64_t last = -1;  // highest granule position
};

}  // namespace

std::optional<double> ogg_chained_seconds(const std::string& path) {
  const int fd = platform::open_read(path);
  if (fd < 0) return std::nullopt;
  std::vector<Part> parts;
  bool in_headers = false, ok = true;
  int64_t at = 0;
  for (int page = 0; page < kMaxPages; ++page) {
    unsigned char head[27 + 255];
    if (!platform::read_at(fd, head, 27, at)) break;  // the end
    if (std::memcmp(head, "OggS", 4) != 0 || !platform::read_at(fd, head + 27, head[26], at + 27)) {
      ok = false;
      break;
    }
    int64_t body = 0;
    for (int i = 0; i < head[26]; ++i) body += head[27 + i];
    const bool bos = head[5] & 2;
    const int64_t granule = static_cast<int64_t>(le(head + 6, 8));
    const uint32_t serial = static_cast<uint32_t>(le(head + 14, 4));
    const int64_t body_at = at + 27 + head[26];
    if (bos) {
      // A second stream beside the first (not after it) is not a chain.
      if (in_headers) {
        ok = false;
        break;
      }
      in_headers = true;
      unsigned char id[19] = {};
      if (body < 19 || !platform::read_at(fd, id, sizeof id, body_at)) {
        ok = false;
        break;
      }
      Part p;
      p.serial = serial;
      if (std::memcmp(id, "\x01vorbis", 7) == 0) {
        p.rate = static_cast<double>(le(id + 12, 4));
      } else if (std::memcmp(id, "OpusHead", 8) == 0) {
        p.rate = 48000;
        p.skip = static_cast<int64_t>(le(id + 10, 2));
      }
      if (p.rate <= 0) {
        ok = false;
        break;
      }
      parts.push_back(p);
    } else {
      in_headers = false;
      if (parts.empty() || serial != parts.back().serial) {
        ok = false;
        break;
      }
      if (granule >= 0 && granule > parts.back().last) parts.back().last = granule;
    }
    at = body_at + body;
  }
  platform::close_file(fd);
  if (!ok || parts.size() < 2) return std::nullopt;
  double seconds = 0;
  for (const Part& p : parts)
    if (p.last > p.skip) seconds += static_cast<double>(p.last - p.skip) / p.rate;
  return seconds;
}

}  // namespace tovarin::audio::decode
