#include "audio/decode/mp3_header.hpp"

#include <cstring>
#include <fstream>
#include <vector>

namespace tovarin::audio::decode {

std::optional<LameGap> read_lame_gap(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return std::nullopt;
  std::vector<unsigned char> b(10);
  if (!f.read(reinterpret_cast<char*>(b.data()), 10)) return std::nullopt;
  size_t start = 0;
  // An ID3v2 tag comes first: its size is four 7-bit bytes, plus a footer when flagged.
  if (std::memcmp(b.data(), "ID3", 3) == 0) {
    start = 10 + ((size_t{b[6]} & 0x7F) << 21 | (size_t{b[7]} & 0x7F) << 14 | (size_t{b[8]} & 0x7F) << 7 |
                  (size_t{b[9]} & 0x7F));
    if (b[5] & 0x10) start += 10;
  }
  // The header frame follows at once (allow a little junk before it).
  b.assign(4096, 0);
  f.clear();
  f.seekg(static_cast<std::streamoff>(start));
  f.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
  const size_t n = static_cast<size_t>(f.gcount());
  for (size_t o = 0; o + 4 < n && o < 1024; ++o) {
    if (b[o] != 0xFF || (b[o + 1] & 0xE0) != 0xE0) continue;
    const int version = (b[o + 1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (b[o + 1] >> 1) & 3;    // 1: layer III
    if (version == 1 || layer != 1) continue;
    const bool mono = ((b[o + 3] >> 6) & 3) == 3;
    const size_t side = version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const size_t x = o + 4 + side;
    if (x + 8 > n) return std::nullopt;
    if (std::memcmp(&b[x], "Xing", 4) != 0 && std::memcmp(&b[x], "Info", 4) != 0) return std::nullopt;
    const unsigned flags = unsigned{b[x + 4]} << 24 | unsigned{b[x + 5]} << 16 | unsigned{b[x + 6]} << 8 | b[x + 7];
    size_t l = x + 8;
    if (flags & 1) l += 4;    // frames
    if (flags & 2) l += 4;    // bytes
    if (flags & 4) l += 100;  // table of contents
    if (flags & 8) l += 4;    // quality
    // LAME extension: 9-byte encoder name ... delay and padding, 12 bits each, at +21.
    if (l + 24 > n) return std::nullopt;
    if (std::memcmp(&b[l], "LAME", 4) != 0 && std::memcmp(&b[l], "Lavc", 4) != 0 && std::memcmp(&b[l], "Lavf", 4) != 0)
      return std::nullopt;
    LameGap g;
    g.delay = (b[l + 21] << 4) | (b[l + 22] >> 4);
    g.padding = ((b[l + 22] & 0x0F) << 8) | b[l + 23];
    return g;
  }
  return std::nullopt;
}

}  // namespace tovarin::audio::decode
