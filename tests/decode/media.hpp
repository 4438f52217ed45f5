// Test media made at test time with ffmpeg/sox, independent decodes of it,
// and a bounded reader of what a source delivers.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "common/temp_dir.hpp"

namespace tovarin::test {

bool have_tool(const char* name);
// Runs a shell command; true when it exits 0.
bool run(const std::string& cmd);
// Standard output of a shell command.
std::string capture(const std::string& cmd);
// Interleaved float samples of a file decoded by the ffmpeg command-line tool.
std::vector<float> ffmpeg_decode(const std::string& path, int channels);
// Single quotes for the shell.
std::string sh_quote(const std::string& s);
// `seconds` of 440 Hz in stereo at 44.1 kHz, encoded by ffmpeg with the
// output options `args` into path.
bool make_tone(const std::string& path, int seconds, const std::string& args);
// Root mean square of n samples.
double rms(const float* p, size_t n);
// Two Ogg parts (codec libvorbis or libopus) chained in one file made in
// dir: 3 s of 440 Hz at 44.1 kHz stereo titled PartOne, then 3 s of
// 1000 Hz at 48 kHz mono titled PartTwo. Its path, or "" when ffmpeg failed.
std::string chained_ogg(const TempDir& dir, const std::string& codec);

// Reads up to `frames` frames of a source (to its end at most) within
// `seconds`, the bound only a hang reaches; what came, interleaved.
template <class S>
std::vector<float> read_frames(S& s, size_t frames = size_t{1} << 30, double seconds = 30) {
  const size_t ch = static_cast<size_t>(s.info().channels);
  std::vector<float> out, buf(4096 * ch);
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (out.size() / ch < frames && std::chrono::steady_clock::now() < until) {
    const size_t n = s.read(buf.data(), std::min<size_t>(4096, frames - out.size() / ch));
    out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n * ch));
    if (n == 0) {
      if (s.finished()) break;
      usleep(1000);
    }
  }
  return out;
}

}  // namespace tovarin::test
