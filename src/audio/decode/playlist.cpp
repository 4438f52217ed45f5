#include "audio/decode/playlist.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace tovarin::audio::decode {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// The text without a UTF-8 byte order mark and leading blank lines.
std::string_view body_start(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  return trim(text);
}

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && lower(s.substr(0, prefix.size())) == prefix;
}

bool is_hls_text(std::string_view text) { return text.find("#EXT-X-") != std::string_view::npos; }

// Calls fn with each trimmed line.
template <class Fn>
void for_each_line(std::string_view text, Fn fn) {
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) end = text.size();
    fn(trim(text.substr(0, end)));
    text.remove_prefix(std::min(text.size(), end + 1));
  }
}

size_t scheme_end(std::string_view s) {
  // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"; one letter is a
  // drive ("C:"), not a scheme.
  const size_t colon = s.find(':');
  if (colon == std::string_view::npos || colon < 2) return 0;
  for (size_t i = 0; i < colon; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (!(std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.')))) return 0;
  }
  return colon + 1;
}

}  // namespace

PlaylistKind playlist_kind(std::string_view content_type, std::string_view path, std::string_view head) {
  const std::string type = lower(trim(content_type.substr(0, content_type.find(';'))));
  if (type == "audio/x-scpls") return PlaylistKind::Pls;
  if (type == "application/vnd.apple.mpegurl" || type == "application/x-mpegurl") return PlaylistKind::Hls;
  const std::string_view body = body_start(head);
  const bool hls = is_hls_text(head);
  if (type == "audio/x-mpegurl" || type == "audio/mpegurl") return hls ? PlaylistKind::Hls : PlaylistKind::M3u;
  std::string p = lower(path.substr(0, path.find_first_of("?#")));
  if (p.size() >= 5 && p.compare(p.size() - 5, 5, ".m3u8") == 0) return PlaylistKind::Hls;
  if (p.size() >= 4 && p.compare(p.size() - 4, 4, ".pls") == 0) return PlaylistKind::Pls;
  if (p.size() >= 4 && p.compare(p.size() - 4, 4, ".m3u") == 0) return hls ? PlaylistKind::Hls : PlaylistKind::M3u;
  // A type that names audio or anything else specific is believed; a generic
  // one (text, octet stream, none) is sniffed.
  const bool generic = type.empty() || type == "text/plain" || type == "application/octet-stream" ||
                       type == "text/html" || type == "audio/x-mpegurl";
  if (!generic) return PlaylistKind::None;
  if (starts_with_nocase(body, "[playlist]")) return PlaylistKind::Pls;
  if (body.substr(0, 7) == "#EXTM3U") return hls ? PlaylistKind::Hls : PlaylistKind::M3u;
  return PlaylistKind::None;
}

std::vector<std::string> playlist_entries(std::string_view text) {
  text = body_start(text);
  std::vector<std::string> out;
  if (starts_with_nocase(text, "[playlist]")) {
    std::map<long, std::string> numbered;
    for_each_line(text, [&](std::string_view line) {
      if (!starts_with_nocase(line, "file")) return;
      const size_t eq = line.find('=');
      if (eq == std::string_view::npos) return;
      const std::string number(line.substr(4, eq - 4));
      char* end = nullptr;
      const long n = std::strtol(number.c_str(), &end, 10);
      const std::string_view value = trim(line.substr(eq + 1));
      if (number.empty() || *end != '\0' || value.empty()) return;
      numbered.emplace(n, std::string(value));
    });
    for (auto& [n, v] : numbered) out.push_back(std::move(v));
    return out;
  }
  if (is_hls_text(text)) return out;
  for_each_line(text, [&](std::string_view line) {
    if (!line.empty() && line.front() != '#') out.emplace_back(line);
  });
  return out;
}

std::string resolve_reference(std::string_view base, std::string_view ref) {
  if (scheme_end(ref) > 0) return std::string(ref);
  const size_t scheme = scheme_end(base);
  if (scheme == 0 || base.substr(scheme, 2) != "//") {
    // A path: absolute stays, relative is read from the list's folder.
    if (!ref.empty() && ref.front() == '/') return std::string(ref);
    const size_t slash = base.rfind('/');
    return slash == std::string_view::npos ? std::string(ref)
                                           : std::string(base.substr(0, slash + 1)) + std::string(ref);
  }
  if (ref.substr(0, 2) == "//") return std::string(base.substr(0, scheme)) + std::string(ref);
  const size_t path_start = std::min(base.size(), base.find_first_of("/?#", scheme + 2));
  const std::string_view authority = base.substr(0, path_start);
  if (!ref.empty() && ref.front() == '/') return std::string(authority) + std::string(ref);
  std::string_view path = base.substr(path_start);
  path = path.substr(0, path.find_first_of("?#"));
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string_view::npos ? "/" : std::string(path.substr(0, slash + 1));
  if (ref.empty()) return std::string(base);
  if (ref.front() == '?' || ref.front() == '#') return std::string(authority) + std::string(path) + std::string(ref);
  return std::string(authority) + folder + std::string(ref);
}

}  // namespace tovarin::audio::decode
