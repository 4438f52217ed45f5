#include "lists.hpp"

#include <fstream>
#include <iterator>

#include "audio/decode/playlist.hpp"

namespace host {
namespace {

namespace pl = tovarin::audio::decode;

constexpr int kMostDepth = 2;
// A list bigger than this is not a list a listener wrote.
constexpr std::streamsize kMostBytes = 4 << 20;

bool IsUrl(const std::string& s) { return s.rfind("http:", 0) == 0 || s.rfind("https:", 0) == 0; }

void Expand(const std::string& source, int depth, std::vector<std::string>& out) {
  std::string text;
  // Only what is named as a list is read (an .m3u8 is HLS: played, not expanded).
  const pl::PlaylistKind named = pl::playlist_kind("", source, "");
  if (!IsUrl(source) && (named == pl::PlaylistKind::Pls || named == pl::PlaylistKind::M3u)) {
    std::ifstream in(source, std::ios::binary);
    if (in) {
      text.resize(static_cast<size_t>(kMostBytes));
      in.read(text.data(), kMostBytes);
      text.resize(static_cast<size_t>(in.gcount()));
    }
  }
  const pl::PlaylistKind kind = text.empty() ? pl::PlaylistKind::None : pl::playlist_kind("", source, text);
  std::vector<std::string> entries;
  if (depth < kMostDepth && (kind == pl::PlaylistKind::Pls || kind == pl::PlaylistKind::M3u))
    entries = pl::playlist_entries(text);
  if (entries.empty()) {
    out.push_back(source);
    return;
  }
  for (const std::string& entry : entries) {
    std::string resolved = pl::resolve_reference(source, entry);
    if (resolved.rfind("file://", 0) == 0) resolved.erase(0, 7);
    Expand(resolved, depth + 1, out);
  }
}

}  // namespace

std::vector<std::string> ExpandLists(const std::vector<std::string>& sources) {
  std::vector<std::string> out;
  for (const std::string& s : sources) Expand(s, 0, out);
  return out;
}

}  // namespace host
