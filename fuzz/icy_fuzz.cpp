// ICY metadata packets as a station sends them, to the live title a listener
// reads: the StreamTitle is cut out of the packet, then made UTF-8. The same
// bytes as an HLS station's ID3 tag give a title and artist in UTF-8.
//
// Checked on every input: the title is a piece of the packet; the text that
// reaches the tags is valid UTF-8 with no NUL; a packet that already is
// UTF-8 keeps its characters.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "audio/decode/id3.hpp"
#include "audio/decode/text.hpp"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

// An independent reading of RFC 3629.
bool ValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    const auto c1 = static_cast<unsigned char>(s[i + 1 < s.size() ? i + 1 : i]);
    if (c == 0xE0 && c1 < 0xA0) return false;  // overlong
    if (c == 0xED && c1 > 0x9F) return false;  // surrogates
    if (c == 0xF0 && c1 < 0x90) return false;  // overlong
    if (c == 0xF4 && c1 > 0x8F) return false;  // past U+10FFFF
    i += n;
  }
  return true;
}

std::string WithoutNul(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != '\0') out += c;
  return out;
}

void Text(std::string_view bytes) {
  const std::string out = tovarin::audio::decode::to_utf8(bytes);
  Check(ValidUtf8(out), "UTF-8 out");
  Check(out.find('\0') == std::string::npos, "no NUL out");
  if (ValidUtf8(bytes)) Check(out == WithoutNul(bytes), "UTF-8 kept as it is");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view packet(reinterpret_cast<const char*>(data), size);
  const std::string title = tovarin::audio::decode::icy_stream_title(packet);
  Check(packet.find(title) != std::string_view::npos, "title is a piece of the packet");
  Text(title);
  Text(packet);
  const auto id3 = tovarin::audio::decode::read_timed_id3(data, size);
  Check(ValidUtf8(id3.title) && ValidUtf8(id3.artist), "ID3 text is UTF-8");
  return 0;
}
