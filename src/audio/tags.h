// tovarin tags: one text from a stream's tags.
//
// fmt is copied to the answer with each key replaced by the tag's text:
//   %TRCK track  %TITL title  %ARTI artist  %ALBM album
//   %GNRE genre  %YEAR year   %CMNT comment
// A missing tag gives an empty text. Tags come from the container's metadata
// (ID3v1, ID3v2, Vorbis comments, MP4, RIFF INFO) and, for internet streams,
// the station's ICY headers and the live title. Texts are UTF-8.
//
// The answer stays valid until the next TAGS_Read on the same thread.
// Returns null for a bad handle or a null fmt.
#pragma once

#include "bass.h"

// The keys, in the order of the tags they name: track, title, artist, album,
// genre, year, comment. Each is five characters long.
inline constexpr const char* TAGS_KEYS[] = {"%TRCK", "%TITL", "%ARTI", "%ALBM", "%GNRE", "%YEAR", "%CMNT"};

const char* TAGS_Read(DWORD handle, const char* fmt);
