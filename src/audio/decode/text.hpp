// Text helpers for tags: whatever bytes a file or a server sends become
// UTF-8, and ICY metadata packets give up their StreamTitle.
// Pure functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovarin::audio::decode {

// Valid UTF-8 is kept as it is; anything else is read as Windows-1252
// (a superset of Latin-1 in the printable range), the usual encoding of
// old tags and of stations that send no declared charset. NULs are dropped.
std::string to_utf8(std::string_view bytes);

// Appends one code point (at most U+10FFFF) as UTF-8.
void append_utf8(std::string& out, uint32_t cp);

// The StreamTitle of an ICY metadata packet ("StreamTitle='...';StreamUrl='';"),
// still in the server's bytes; empty when the packet names none.
std::string icy_stream_title(std::string_view packet);

}  // namespace tovarin::audio::decode
