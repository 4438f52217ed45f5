#include "audio/decode/id3.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "audio/decode/text.hpp"

namespace tovarin::audio::decode {
namespace {

uint32_t be(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// 2.4 sizes keep the top bit of every byte clear.
uint32_t syncsafe(const uint8_t* p) {
  return (p[0] & 0x7Fu) << 21 | (p[1] & 0x7Fu) << 14 | (p[2] & 0x7Fu) << 7 | (p[3] & 0x7Fu);
}

// Unsynchronisation put a 0x00 after every 0xFF; this takes it out again.
std::vector<uint8_t> resync(const uint8_t* p, size_t n) {
  std::vector<uint8_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0x00) ++i;
  }
  return out;
}

// UTF-16 (big-endian unless a byte-order mark says otherwise) to UTF-8, up to the first NUL.
std::string utf16(const uint8_t* p, size_t n, bool big) {
  if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
    big = p[0] == 0xFE;
    p += 2;
    n -= 2;
  }
  std::string out;
  for (size_t i = 0; i + 1 < n; i += 2) {
    uint32_t u = big ? be(p + i, 2) : (p[i] | p[i + 1] << 8);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
      const uint32_t lo = big ? be(p + i + 2, 2) : (p[i + 2] | p[i + 3] << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;  // a surrogate without its pair
    append_utf8(out, u);
  }
  return out;
}

// A text frame's body: an encoding byte, then the text. Of several values
// (2.4 separates them by NULs) the first is kept.
std::string frame_text(const uint8_t* p, size_t n) {
  if (n < 1) return {};
  const uint8_t enc = p[0];
  ++p;
  --n;
  switch (enc) {
    case 0:
    case 3: {
      const std::string_view s(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), n));
      return to_utf8(s);  // Latin-1 or UTF-8: to_utf8 keeps valid UTF-8 and reads the rest as Latin-1
    }
    case 1: return utf16(p, n, false);
    case 2: return utf16(p, n, true);
    default: return {};
  }
}

}  // namespace

Id3Text read_id3_text(const uint8_t* data, size_t size) {
  Id3Text out;
  if (size < 10 || std::memcmp(data, "ID3", 3) != 0) return out;
  const int version = data[3];
  if (version < 2 || version > 4) return out;
  const uint8_t flags = data[5];
  size_t end = 10 + std::min<size_t>(syncsafe(data + 6), size - 10);
  std::vector<uint8_t> unsynced;
  const uint8_t* tag = data;
  // Before 2.4 unsynchronisation covers the whole tag; in 2.4 each frame says so itself.
  if ((flags & 0x80) && version < 4) {
    unsynced = resync(data + 10, end - 10);
    unsynced.insert(unsynced.begin(), data, data + 10);
    tag = unsynced.data();
    end = unsynced.size();
  }
  size_t at = 10;
  if ((flags & 0x40) && version >= 3) {  // an extended header, skipped
    if (end < at + 4) return out;
    const size_t ext = version == 4 ? syncsafe(tag + at) : be(tag + at, 4) + 4;
    if (ext > end - at) return out;
    at += ext;
  }
  const size_t id_len = version == 2 ? 3 : 4, head = version == 2 ? 6 : 10;
  while (at + head <= end && tag[at] != 0) {
    const uint8_t* f = tag + at;
    const size_t len = version == 2 ? be(f + 3, 3) : version == 4 ? syncsafe(f + 4) : be(f + 4, 4);
    if (len > end - at - head) break;  // a frame past the tag's end: damage, the rest is not read
    const uint8_t* body = f + head;
    size_t body_len = len;
    std::vector<uint8_t> frame_unsynced;
    bool readable = true;
    if (version >= 3) {
      const uint8_t ff = f[9];
      // 2.3: compressed 0x80, encrypted 0x40, grouping 0x20 (a byte);
      // 2.4: grouping 0x40 (a byte), compressed 0x08, encrypted 0x04, unsynchronised 0x02, length 0x01 (4 bytes).
      const bool packed = version == 3 ? (ff & 0xC0) != 0 : (ff & 0x0C) != 0;
      const size_t extra = version == 3 ? ((ff & 0x20) ? 1 : 0) : ((ff & 0x40) ? 1 : 0) + ((ff & 0x01) ? 4 : 0);
      readable = !packed && extra <= body_len;
      if (readable) {
        body += extra;
        body_len -= extra;
        if (version == 4 && (ff & 0x02)) {
          frame_unsynced = resync(body, body_len);
          body = frame_unsynced.data();
          body_len = frame_unsynced.size();
        }
      }
    }
    const std::string_view id(reinterpret_cast<const char*>(f), id_len);
    std::string* to = id == "TIT2" || id == "TT2" ? &out.title : id == "TPE1" || id == "TP1" ? &out.artist : nullptr;
    if (to && readable && to->empty()) *to = frame_text(body, body_len);
    at += head + len;
  }
  return out;
}

Id3Text read_timed_id3(const uint8_t* data, size_t size) {
  if (size >= 3 && std::memcmp(data, "ID3", 3) == 0) return read_id3_text(data, size);
  // What is left of a cut tag: flags, then a syncsafe size no larger than the rest.
  if (size < 5 || (data[1] | data[2] | data[3] | data[4]) & 0x80 || syncsafe(data + 1) > size - 5) return {};
  std::vector<uint8_t> whole{'I', 'D', '3', 4, 0};
  whole.insert(whole.end(), data, data + size);
  Id3Text t = read_id3_text(whole.data(), whole.size());
  if (t.title.empty() && t.artist.empty()) {
    whole[3] = 3;
    t = read_id3_text(whole.data(), whole.size());
  }
  return t;
}

}  // namespace tovarin::audio::decode
