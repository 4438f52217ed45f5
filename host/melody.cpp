#include "melody.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace host {
namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 255));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<uint16_t>(v >> 16));
}

}  // namespace

bool WriteMelody(const std::string& path) {
  constexpr int kRate = 44100;
  // A rising and falling phrase: MIDI notes and lengths in eighths.
  struct Note {
    int midi;
    int eighths;
  };
  const Note tune[] = {{67, 1}, {72, 1}, {76, 1}, {79, 2}, {76, 1}, {79, 4},
                       {0, 1},  {77, 1}, {74, 1}, {71, 1}, {74, 1}, {72, 5}};
  const double eighth = 0.18;
  std::vector<int16_t> samples;
  for (const Note& n : tune) {
    const int count = static_cast<int>(n.eighths * eighth * kRate);
    const double freq = n.midi ? 440.0 * std::pow(2.0, (n.midi - 69) / 12.0) : 0.0;
    for (int i = 0; i < count; ++i) {
      const double t = static_cast<double>(i) / kRate;
      // Soft attack and an exponential decay keep the notes from clicking.
      const double env = std::min(1.0, t / 0.01) * std::exp(-3.0 * t) * std::min(1.0, (count - i) / 441.0);
      const double phase = 2.0 * M_PI * freq * t;
      const double v =
          freq > 0 ? env * (0.6 * std::sin(phase) + 0.2 * std::sin(2 * phase) + 0.1 * std::sin(3 * phase)) : 0.0;
      const auto s = static_cast<int16_t>(std::lround(v * 0.5 * 32767.0));
      samples.push_back(s);  // left
      samples.push_back(s);  // right
    }
  }
  std::vector<uint8_t> out;
  const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
  for (char c : std::string("RIFF")) out.push_back(static_cast<uint8_t>(c));
  Put32(out, 36 + data_bytes);
  for (char c : std::string("WAVEfmt ")) out.push_back(static_cast<uint8_t>(c));
  Put32(out, 16);
  Put16(out, 1);  // PCM
  Put16(out, 2);
  Put32(out, kRate);
  Put32(out, kRate * 4);
  Put16(out, 4);
  Put16(out, 16);
  for (char c : std::string("data")) out.push_back(static_cast<uint8_t>(c));
  Put32(out, data_bytes);
  for (int16_t s : samples) Put16(out, static_cast<uint16_t>(s));
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace host
