// A look at the chunk list of a RIFF/RF64 WAVE file before the demuxer sees
// it. The demuxer allocates (and clears) a tag's declared size before it
// reads it, so a LIST chunk that claims gigabytes costs seconds and memory
// even in a file of a few kilobytes. Pure file reading; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace tovarin::audio::decode {

// The number of leading bytes of the file that the demuxer may see: the
// offset of the first LIST chunk that declares more bytes than the file has
// left, or -1 when there is none (or the file is not a WAVE file). Up to
// that offset the file is as it was written; the rest can only be damage.
int64_t wave_readable_prefix(const std::string& path, int64_t file_size);

}  // namespace tovarin::audio::decode
