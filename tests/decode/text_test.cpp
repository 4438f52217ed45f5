#include <gtest/gtest.h>

#include "audio/decode/id3.hpp"
#include "audio/decode/playlist.hpp"
#include "audio/decode/text.hpp"

using tovarin::audio::decode::icy_stream_title;
using tovarin::audio::decode::to_utf8;

TEST(TagText, ValidUtf8IsKept) {
  EXPECT_EQ(to_utf8("Fj\xC3\xA4rran \xE2\x82\xAC \xF0\x9F\x8E\xB5"), "Fj\xC3\xA4rran \xE2\x82\xAC \xF0\x9F\x8E\xB5");
  EXPECT_EQ(to_utf8(""), "");
}

TEST(TagText, OtherBytesAreReadAsWindows1252) {
  EXPECT_EQ(to_utf8("Caf\xE9"), "Caf\xC3\xA9");    // Latin-1 e acute
  EXPECT_EQ(to_utf8("\x80 5"), "\xE2\x82\xAC 5");  // euro sign
  EXPECT_EQ(to_utf8("\x93quoted\x94"), "\xE2\x80\x9Cquoted\xE2\x80\x9D");
  EXPECT_EQ(to_utf8("\x81"), "\xEF\xBF\xBD");  // undefined in 1252
  // Broken or overlong UTF-8 sequences are not UTF-8.
  EXPECT_EQ(to_utf8("\xC3("), "\xC3\x83(");
  EXPECT_EQ(to_utf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");
  EXPECT_EQ(to_utf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // a surrogate
  EXPECT_EQ(to_utf8(std::string("a\0b", 3)), "ab");
}

TEST(IcyTitle, ParsesTheStreamTitleField) {
  EXPECT_EQ(icy_stream_title("StreamTitle='Artist - Song';StreamUrl='';"), "Artist - Song");
  EXPECT_EQ(icy_stream_title("StreamUrl='x';StreamTitle='Rock 'n' Roll';"), "Rock 'n' Roll");
  EXPECT_EQ(icy_stream_title("StreamTitle='';"), "");
  EXPECT_EQ(icy_stream_title("StreamUrl='x';"), "");
  EXPECT_EQ(icy_stream_title(std::string("StreamTitle='cut", 16)), "cut");
  EXPECT_EQ(icy_stream_title(std::string("StreamTitle='Song'\0\0\0", 21)), "Song");  // padded, no ';'
  EXPECT_EQ(icy_stream_title(""), "");
}

namespace {

// An ID3v2 tag of the given version, header flags and frames (id, frame flags, body).
std::string id3(int version, int flags, std::initializer_list<std::tuple<std::string, int, std::string>> frames) {
  std::string body;
  for (const auto& [id, fflags, data] : frames) {
    const size_t n = data.size();
    body += id;
    if (version == 2) {
      body += {char(n >> 16), char(n >> 8), char(n)};
    } else if (version == 4) {
      body += {char(n >> 21 & 0x7F), char(n >> 14 & 0x7F), char(n >> 7 & 0x7F), char(n & 0x7F), 0, char(fflags)};
    } else {
      body += {char(n >> 24), char(n >> 16), char(n >> 8), char(n), 0, char(fflags)};
    }
    body += data;
  }
  const size_t n = body.size();
  return std::string("ID3") + char(version) + '\0' + char(flags) + char(n >> 21 & 0x7F) + char(n >> 14 & 0x7F) +
         char(n >> 7 & 0x7F) + char(n & 0x7F) + body;
}

}  // namespace

TEST(Id3, TitleAndArtistInEveryVersionAndEncoding) {
  using tovarin::audio::decode::read_id3_text;
  using tovarin::audio::decode::read_timed_id3;
  const std::string utf16le(
      "\1\xFF\xFE"
      "B\0\xE4\0"
      "\x3C\xD8\xB5\xDF",
      11);                                          // "Bä" and U+1F3B5
  const std::string utf16be("\2\0S\0o\0\0\0x", 9);  // "So", then a second value
  const struct {
    std::string tag, title, artist;
  } cases[] = {
      {id3(3, 0, {{"TIT2", 0, std::string("\0Caf\xE9", 5)}, {"TPE1", 0, utf16le}}), "Caf\xC3\xA9",
       "B\xC3\xA4\xF0\x9F\x8E\xB5"},
      {id3(4, 0, {{"TPE1", 0x01, std::string("\0\0\0\x05\3Band", 9)}, {"TIT2", 0, utf16be}}), "So", "Band"},
      {id3(2, 0, {{"TT2", 0, "\3Old"}}), "Old", ""},
      // Compressed or encrypted frames and unknown encodings are passed over.
      {id3(3, 0, {{"TIT2", 0x80, "\3zip"}, {"TPE1", 0, "\7odd"}, {"TIT2", 0, "\3plain"}}), "plain", ""},
      // A frame claiming more than the tag holds ends the reading.
      {id3(4, 0, {{"TIT2", 0, "\3ok"}}).substr(0, 14) + "TPE1\x7F\x7F\x7F\x7F\0\0\3x", "", ""},
      {"ID3\4\0\0\0\0\0\x7FTIT2\0\0\0\x7F\0\0\3cut", "", ""},
      {"", "", ""},
      {"TAG", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const auto* p = reinterpret_cast<const uint8_t*>(c.tag.data());
    const auto t = read_id3_text(p, c.tag.size());
    EXPECT_EQ(t.title, c.title);
    EXPECT_EQ(t.artist, c.artist);
  }
  // Version 2.4 per-frame unsynchronisation.
  const std::string un = id3(4, 0, {{"TIT2", 0x02, std::string("\3\xC3\xFF\0", 4)}});
  EXPECT_EQ(read_id3_text(reinterpret_cast<const uint8_t*>(un.data()), un.size()).title, "\xC3\x83\xC3\xBF");
  // A timed-metadata packet whose first five bytes a demuxer took away: 2.4, then 2.3 sizes.
  for (const std::string& tag : {id3(4, 0, {{"TIT2", 0, "\3Cut"}}), id3(3, 0, {{"TIT2", 0, "\3Cut"}})}) {
    EXPECT_EQ(read_timed_id3(reinterpret_cast<const uint8_t*>(tag.data()), tag.size()).title, "Cut");
    EXPECT_EQ(read_timed_id3(reinterpret_cast<const uint8_t*>(tag.data()) + 5, tag.size() - 5).title, "Cut");
  }
}

namespace pl = tovarin::audio::decode;

TEST(Playlist, KindComesFromTypeThenPathThenContent) {
  using K = pl::PlaylistKind;
  const struct {
    const char *type, *path, *head;
    K kind;
  } cases[] = {
      {"audio/x-scpls", "/listen", "", K::Pls},
      {"audio/x-mpegurl; charset=utf-8", "/x", "#EXTM3U\nhttp://a/b\n", K::M3u},
      {"audio/mpegurl", "/x", "#EXTM3U\n#EXT-X-TARGETDURATION:6\n", K::Hls},
      {"application/vnd.apple.mpegurl", "/x", "", K::Hls},
      {"text/plain", "/station.pls?sid=1", "", K::Pls},
      {"", "/a/b.M3U", "", K::M3u},
      {"", "/live.m3u8", "", K::Hls},
      {"application/octet-stream", "/listen", "\xEF\xBB\xBF\r\n[Playlist]\nFile1=http://a/\n", K::Pls},
      {"text/html", "/", "#EXTM3U\nhttp://a/\n", K::M3u},
      // Audio is audio, whatever its body looks like.
      {"audio/mpeg", "/listen", "[playlist]", K::None},
      {"", "/song.mp3", "ID3\x04", K::None},
  };
  for (const auto& c : cases) EXPECT_EQ(pl::playlist_kind(c.type, c.path, c.head), c.kind) << c.type << " " << c.path;
}

TEST(Playlist, EntriesInTheirOrder) {
  EXPECT_EQ(pl::playlist_entries("[playlist]\r\nNumberOfEntries=3\r\nFile2=http://b/\r\nTitle1=x\r\n"
                                 "File10=http://c/\r\nfile1= http://a/ \r\nFileX=bad\r\nFile3=\r\n"),
            (std::vector<std::string>{"http://a/", "http://b/", "http://c/"}));
  EXPECT_EQ(pl::playlist_entries("#EXTM3U\n#EXTINF:-1,Station\nhttp://a/\n\n  rel/b.mp3  \r\n# comment\n"),
            (std::vector<std::string>{"http://a/", "rel/b.mp3"}));
  EXPECT_TRUE(pl::playlist_entries("#EXTM3U\n#EXT-X-TARGETDURATION:6\nseg0.ts\n").empty());
  EXPECT_TRUE(pl::playlist_entries("").empty());
}

TEST(Playlist, RelativeEntriesResolveAgainstTheList) {
  const struct {
    const char *base, *ref, *out;
  } cases[] = {
      {"http://h:8000/lists/a.pls?x=1", "live.mp3", "http://h:8000/lists/live.mp3"},
      {"http://h:8000/lists/a.pls", "/live.mp3", "http://h:8000/live.mp3"},
      {"https://h/lists/a.pls", "//other/x", "https://other/x"},
      {"http://h", "x.mp3", "http://h/x.mp3"},
      {"http://h/a.m3u", "HTTPS://o/y", "HTTPS://o/y"},
      {"http://h/a.m3u", "file:///etc/passwd", "file:///etc/passwd"},
      {"/music/lists/a.m3u", "b.flac", "/music/lists/b.flac"},
      {"/music/lists/a.m3u", "/abs/c.flac", "/abs/c.flac"},
      {"a.m3u", "b.flac", "b.flac"},
  };
  for (const auto& c : cases) EXPECT_EQ(pl::resolve_reference(c.base, c.ref), c.out) << c.base << " + " << c.ref;
}
