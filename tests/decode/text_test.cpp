#include <gtest/gtest.h>

#include "audio/decode/playlist.hpp"
#include "audio/decode/text.hpp"

using tovarin::audio::decode::icy_stream_title;
using tovarin::audio::decode::to_utf8;

TEST(TagText, ValidUtf8IsKept) {
  EXPECT_EQ(to_utf8("Fj\xC3\xA4rran \xE2\x82\xAC \xF0\x9F\x8E\xB5"), "Fj\xC3\xA4rran \xE2\x82\xAC \xF0\x9F\x8E\xB5");
  EXPECT_EQ(to_utf8(""), "");
}

TEST(TagText, OtherBytesAreReadAsWindows1252) {
  EXPECT_EQ(to_utf8("Caf\xE9"), "Caf\xC3\xA9");                 // Latin-1 e acute
  EXPECT_EQ(to_utf8("\x80 5"), "\xE2\x82\xAC 5");              // euro sign
  EXPECT_EQ(to_utf8("\x93quoted\x94"), "\xE2\x80\x9Cquoted\xE2\x80\x9D");
  EXPECT_EQ(to_utf8("\x81"), "\xEF\xBF\xBD");                  // undefined in 1252
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
