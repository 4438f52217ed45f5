// Playlists as stations and file lists hand them out: .pls ("[playlist]",
// FileN=...) and .m3u (one entry a line, "#" lines are comments or
// directives). HLS media playlists are .m3u as well; they are told apart by
// their "#EXT-X-" directives, because they are played, not expanded.
// Pure functions, any thread; shared with the reference host.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovarin::audio::decode {

enum class PlaylistKind { None, Pls, M3u, Hls };

// What a body is, from the server's content type (may be empty), the
// address's path and the body's first bytes. A known playlist type or a
// .pls/.m3u/.m3u8 path decides; a generic or missing type is sniffed.
PlaylistKind playlist_kind(std::string_view content_type, std::string_view path, std::string_view head);

// The entries of a .pls or .m3u text in their order (.pls by FileN number),
// trimmed, as written. A Pls/M3u text that is empty or an HLS one gives none.
std::vector<std::string> playlist_entries(std::string_view text);

// `ref` read against the address or path `base` it was found in: an
// absolute address ("scheme:...") stays as it is; "//host/x", "/x" and
// relative references take what they lack from base. A path base resolves
// against its folder.
std::string resolve_reference(std::string_view base, std::string_view ref);

}  // namespace tovarin::audio::decode
