// The frames of a raw MPEG audio or ADTS stream, found from their headers
// alone.
//
// FFmpeg's demuxer reads such a stream through a parser that hands on every
// frame as a packet: one pass over a two-hour file costs a few hundred
// milliseconds. Once a run of packets shows the stream's steady form (one
// format, frames back to back), the rest of the file is only a chain of
// headers, each giving the next frame's size: reading those finds the same
// packets as the demuxer, at the speed of reading the file.
//
// The scan answers only where it knows what the demuxer does: every frame in
// the run's format, back to back, and after the last one either the end of
// the file or bytes that hold no frame sync at all (tags, a cut, junk). A
// change of format, junk followed by more frames, a free-format header, an
// ADTS frame cut by the end: no answer, and the demuxer counts the rest.
//
// Pure reading of the file; any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovarin::audio::decode {

enum class FrameSyntax { none, mpeg_audio, adts };

// Header bytes that the format checks read.
constexpr int kFrameHeaderBytes = 7;

// Whether two frames (at least kFrameHeaderBytes each) have the same format:
// the same duration and rate, so that the demuxer times them alike.
bool same_frame_format(FrameSyntax syntax, const uint8_t* a, const uint8_t* b);

// Where each frame starts, from `pos` (the end of a frame whose first bytes
// are `ref`) to the end of the file at `path`; nothing when the rest cannot
// be read from headers (see above), the file does not read, `cancel` is set
// or the steady clock passes `deadline_ns`.
std::optional<std::vector<int64_t>> scan_frames(const std::string& path, FrameSyntax syntax, const uint8_t* ref,
                                                int64_t pos, const std::atomic<bool>& cancel, int64_t deadline_ns);

}  // namespace tovarin::audio::decode
