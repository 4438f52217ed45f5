// PCM WAV files for tests, benchmarks and fuzzers: a writer, a reader that
// checks the sizes against the file, and the header fields as sox reads
// them (a reader that is not ours).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testwav {

// The 44-byte header of a PCM file holding data_bytes of sound.
inline std::string header(uint32_t rate, uint16_t channels, uint16_t bits, uint32_t data_bytes) {
  std::string h;
  auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) h += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  const uint16_t block = static_cast<uint16_t>(channels * (bits / 8));
  h += "RIFF";
  put(36 + data_bytes, 4);
  h += "WAVEfmt ";
  put(16, 4), put(1, 2), put(channels, 2), put(rate, 4), put(rate * block, 4), put(block, 2), put(bits, 2);
  h += "data";
  put(data_bytes, 4);
  return h;
}

// A 16-bit file of interleaved samples.
inline bool write(const std::string& path, uint32_t rate, uint16_t channels, const std::vector<int16_t>& samples) {
  std::ofstream out(path, std::ios::binary);
  const uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
  out << header(rate, channels, 16, bytes);
  for (int16_t v : samples) out.put(static_cast<char>(v & 0xff)).put(static_cast<char>((v >> 8) & 0xff));
  return static_cast<bool>(out);
}

struct Wav {
  bool valid = false;
  int rate = 0, channels = 0, bits = 0;
  std::vector<int16_t> samples;  // interleaved
  size_t frames() const { return channels ? samples.size() / channels : 0; }
  int16_t at(size_t f, int c) const { return samples[f * channels + c]; }
};

// Reads a 16-bit PCM file; valid only when its RIFF and data sizes agree
// with the file's length.
inline Wav read(const std::string& path) {
  Wav w;
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), {});
  auto u32 = [&](size_t o) { return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | uint32_t(b[o + 3]) << 24; };
  auto u16 = [&](size_t o) { return b[o] | b[o + 1] << 8; };
  if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4)) return w;
  if (u32(4) != b.size() - 8) return w;
  size_t o = 12;
  while (o + 8 <= b.size()) {
    uint32_t len = u32(o + 4);
    if (!std::memcmp(b.data() + o, "fmt ", 4)) {
      w.channels = u16(o + 10);
      w.rate = u32(o + 12);
      w.bits = u16(o + 22);
    } else if (!std::memcmp(b.data() + o, "data", 4)) {
      if (o + 8 + len != b.size()) return w;
      w.samples.resize(len / 2);
      std::memcpy(w.samples.data(), b.data() + o + 8, len);
      w.valid = true;
      return w;
    }
    o += 8 + len;
  }
  return w;
}

#if !defined(_WIN32)
// The header's fields as sox reads them (its debug lines "Microsoft PCM
// format, 2 channels, 44100 samp/sec" and "176400 byte/sec, 4 block align,
// 16 bits/samp, 35280 data bytes"); all -1 when sox cannot read the file.
struct SoxFields {
  long channels = -1, rate = -1, byte_rate = -1, block_align = -1, bits = -1, data_bytes = -1;
};
inline SoxFields sox_fields(const std::string& path) {
  SoxFields f;
  FILE* p = ::popen(("sox -V4 '" + path + "' -n 2>&1").c_str(), "r");
  if (!p) return f;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    if (const char* s = std::strstr(line, "PCM format,"))
      std::sscanf(s, "PCM format, %ld channels, %ld samp/sec", &f.channels, &f.rate);
    const char* w = std::strstr(line, "wav:");
    if (w && std::strstr(line, "byte/sec,"))
      std::sscanf(w + 4, " %ld byte/sec, %ld block align, %ld bits/samp, %ld data bytes", &f.byte_rate, &f.block_align,
                  &f.bits, &f.data_bytes);
  }
  ::pclose(p);
  return f;
}
#endif

}  // namespace testwav
