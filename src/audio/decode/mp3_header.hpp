// The encoder delay and padding that a LAME/Xing header records in the first
// frame of an MP3 file. Pure parsing of bytes; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tovarin::audio::decode {

struct LameGap {
  int delay = 0;    // samples the encoder put before the audio
  int padding = 0;  // samples it put after
};

// Reads the start of the file at `path`; nothing when it has no LAME header.
std::optional<LameGap> read_lame_gap(const std::string& path);

}  // namespace tovarin::audio::decode
