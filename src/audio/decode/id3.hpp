// ID3v2 text frames, as HLS streams carry them in timed metadata: the title
// and artist of the song being sent. Pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tovarin::audio::decode {

struct Id3Text {
  std::string title, artist;  // UTF-8; empty when the tag has none
};

// Reads one ID3v2 tag (versions 2.2 to 2.4) from the start of data. Frames
// that do not fit the tag, compressed or encrypted frames and unknown text
// encodings are skipped; nothing is read past size.
Id3Text read_id3_text(const uint8_t* data, size_t size);

// The tag of an MPEG-TS timed-metadata packet. Some demuxers take the first
// five bytes of every such packet for a metadata access-unit header, which
// the muxers of HLS streams do not write: a tag missing its "ID3", version
// and revision bytes is read as version 2.4, else 2.3.
Id3Text read_timed_id3(const uint8_t* data, size_t size);

}  // namespace tovarin::audio::decode
