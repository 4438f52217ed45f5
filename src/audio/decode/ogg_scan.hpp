// The length of a chained Ogg file, from its page headers. Ogg radio and
// recordings of it put one logical stream after another (a new song, often
// a new rate or channel count); the demuxer reports the last part's end
// position read in the first part's time base, which is no length at all.
// Pure file reading; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tovarin::audio::decode {

// Seconds of all the parts of a chained Ogg Vorbis or Opus file, each at its
// own rate; nullopt when the file holds one part only, or parts the walk
// does not understand (several streams at once, other codecs, damage).
std::optional<double> ogg_chained_seconds(const std::string& path);

}  // namespace tovarin::audio::decode
