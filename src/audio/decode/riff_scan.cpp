#include "audio/decode/riff_scan.hpp"

#include <cstring>

#include "platform/platform.hpp"

namespace tovarin::audio::decode {
namespace {

// More chunks than this and the walk gives up: the demuxer has its own limits.
constexpr int kMaxChunks = 4096;

uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

int64_t wave_readable_prefix(const std::string& path, int64_t file_size) {
  const int fd = platform::open_read(path);
  if (fd < 0) return -1;
  auto read_at = [fd](void* buf, size_t n, int64_t at) { return platform::read_at(fd, buf, n, at); };
  int64_t result = -1;
  unsigned char head[12];
  if (read_at(head, sizeof head, 0) && (!std::memcmp(head, "RIFF", 4) || !std::memcmp(head, "RF64", 4)) &&
      !std::memcmp(head + 8, "WAVE", 4)) {
    const bool rf64 = !std::memcmp(head, "RF64", 4);
    int64_t at = 12;
    for (int i = 0; i < kMaxChunks && at + 8 <= file_size; ++i) {
      unsigned char chunk[8];
      if (!read_at(chunk, sizeof chunk, at)) break;
      const int64_t size = le32(chunk + 4);
      if (!std::memcmp(chunk, "LIST", 4) && size > file_size - at - 8) {
        result = at;
        break;
      }
      // An RF64 data chunk keeps its size elsewhere; and 0 or all ones mean
      // "to the end": nothing after it to look at.
      if (!std::memcmp(chunk, "data", 4) && (rf64 || size == 0 || size == 0xFFFFFFFF)) break;
      at += 8 + size + (size & 1);
    }
  }
  platform::close_file(fd);
  return result;
}

}  // namespace tovarin::audio::decode
