// Tags as written by ffmpeg (and a hand-made ID3v1 tag); sources that must be
// refused or survived: not regular files, not audio, lists of other files,
// damaged files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <random>

#include "audio/bass.h"
#include "audio/source.hpp"
#include "media.hpp"

using tovarin::audio::open_file_source;
using tovarin::audio::Source;
using tovarin::audio::TagKey;
using namespace tovarin::test;

namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  }
  std::string make(const std::string& name, const std::string& args) {
    const std::string out = dir.file(name);
    EXPECT_TRUE(make_tone(out, 1, args));
    return out;
  }
  void write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  std::string read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  TempDir dir;
};

// Frames a source gives to its end, which it must reach.
int64_t drain_count(Source& s) {
  const auto pcm = read_frames(s);
  EXPECT_TRUE(s.finished());
  return static_cast<int64_t>(pcm.size()) / s.info().channels;
}

// Each tag of `want` as the source answers it.
void ExpectTags(const Source& s, std::initializer_list<std::pair<TagKey, const char*>> want) {
  for (const auto& [key, value] : want) EXPECT_EQ(s.tag(key), value) << "tag " << static_cast<int>(key);
}

struct Tagged {
  const char* file;
  const char* args;
};

TEST_F(Files, SevenTagsReadBackFromEveryContainer) {
  const std::string meta =
      " -metadata track=3/12 -metadata 'title=Fj\xC3\xA4rran' -metadata 'artist=\xC3\x84rtist' -metadata "
      "'album=Alb\xC3\xBCm' -metadata genre=Rock -metadata date=1999 -metadata 'comment=Kommen t\xC3\xA4r'";
  const Tagged files[] = {{"t24.mp3", "-c:a libmp3lame"}, {"t23.mp3", "-c:a libmp3lame -id3v2_version 3"},
                          {"t.ogg", "-c:a libvorbis"},    {"t.opus", "-c:a libopus"},
                          {"t.flac", "-c:a flac"},        {"t.m4a", "-c:a aac"},
                          {"t.wav", "-c:a pcm_s16le"}};
  for (const Tagged& t : files) {
    SCOPED_TRACE(t.file);
    auto s = open_file_source(make(t.file, std::string(t.args) + meta), nullptr);
    ASSERT_TRUE(s);
    ExpectTags(*s, {{TagKey::Track, "3/12"},
                    {TagKey::Title, "Fj\xC3\xA4rran"},
                    {TagKey::Artist, "\xC3\x84rtist"},
                    {TagKey::Album, "Alb\xC3\xBCm"},
                    {TagKey::Genre, "Rock"},
                    {TagKey::Year, "1999"},
                    {TagKey::Comment, "Kommen t\xC3\xA4r"}});
  }
  auto bare = open_file_source(make("bare.flac", "-c:a flac"), nullptr);
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->tag(TagKey::Title), "");
  EXPECT_EQ(bare->tag(TagKey::Comment), "");
}

TEST_F(Files, Id3v1OnlyTagIsReadAndLatin1BecomesUtf8) {
  const std::string mp3 = make("v1.mp3", "-c:a libmp3lame -id3v2_version 0 -write_xing 0");
  // ID3v1.1: "TAG", title 30, artist 30, album 30, year 4, comment 28, 0, track, genre.
  auto field = [](const std::string& v, size_t n) { return (v + std::string(n, '\0')).substr(0, n); };
  std::string tag = "TAG" + field("Caf\xE9 Song", 30) + field("Some Artist", 30) + field("Old Album", 30) + "1987" +
                    field("A comment", 28) + std::string(1, '\0') + std::string(1, '\x07') + std::string(1, '\x11');
  ASSERT_EQ(tag.size(), 128u);
  write(mp3, read(mp3) + tag);
  auto s = open_file_source(mp3, nullptr);
  ASSERT_TRUE(s);
  ExpectTags(*s, {{TagKey::Title, "Caf\xC3\xA9 Song"},
                  {TagKey::Artist, "Some Artist"},
                  {TagKey::Album, "Old Album"},
                  {TagKey::Year, "1987"},
                  {TagKey::Comment, "A comment"},
                  {TagKey::Track, "7"},
                  {TagKey::Genre, "Rock"}});  // genre 17
}

TEST_F(Files, ThingsThatAreNotRegularFilesAreRefusedAtOnce) {
  const std::string fifo = dir.file("pipe.mp3");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Opening a FIFO for reading would block until a writer comes: it must not be opened at all.
  int err = 0;
  for (const std::string& path : {dir.path(), fifo, std::string("/dev/zero"), dir.file("missing.wav")}) {
    EXPECT_FALSE(open_file_source(path, &err)) << path;
    EXPECT_EQ(err, BASS_ERROR_FILEOPEN) << path;
  }
  EXPECT_FALSE(open_file_source("", &err));
}

TEST_F(Files, NonAudioAndListsOfOtherFilesAreRefused) {
  const std::string wav = make("inner.wav", "-c:a pcm_s16le");
  ASSERT_TRUE(open_file_source(wav, nullptr));
  const std::string png = dir.file("image.png"), video = dir.file("video.mp4");
  ASSERT_TRUE(run("ffmpeg -v error -nostdin -y -f lavfi -i color=red:s=32x32 -frames:v 1 " + sh_quote(png)));
  ASSERT_TRUE(run("ffmpeg -v error -nostdin -y -f lavfi -i testsrc=s=64x64:d=1 -c:v mpeg4 " + sh_quote(video)));
  std::string text;
  for (int i = 0; i < 100; ++i) text += "This is a plain text file, line " + std::to_string(i) + ".\n";
  write(dir.file("notes.txt"), text);
  write(dir.file("list.ffconcat"), "ffconcat version 1.0\nfile '" + wav + "'\n");
  write(dir.file("list.m3u8"), "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n" + wav + "\n#EXT-X-ENDLIST\n");
  write(dir.file("empty.mp3"), "");
  for (const std::string& path :
       {png, video, dir.file("notes.txt"), dir.file("list.ffconcat"), dir.file("list.m3u8"), dir.file("empty.mp3")}) {
    int err = 0;
    EXPECT_FALSE(open_file_source(path, &err)) << path;
    EXPECT_EQ(err, BASS_ERROR_FILEFORM) << path;
  }
}

TEST_F(Files, PathsThatLookLikeUrlsOrProtocolsAreFiles) {
  const std::string sub = dir.file("http:");
  ASSERT_EQ(::mkdir(sub.c_str(), 0700), 0);
  const std::string wav = make("http:/x.wav", "-c:a pcm_s16le");
  auto s = open_file_source(wav, nullptr);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->length(), 44100);
  const std::string concat = make("concat:a.wav", "-c:a pcm_s16le");
  EXPECT_TRUE(open_file_source(concat, nullptr));
}

TEST_F(Files, DamagedFilesPlayWhatDecodesAndEnd) {
  std::mt19937 rng(7);
  std::string noise(200000, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  write(dir.file("noise.mp3"), noise);
  if (auto s = open_file_source(dir.file("noise.mp3"), nullptr)) drain_count(*s);

  // Cut in half: the header promises more than there is.
  for (const char* name : {"cut.mp3", "cut.flac", "cut.wav", "cut.ogg", "cut.m4a"}) {
    SCOPED_TRACE(name);
    const std::string whole = make(std::string("whole_") + name, "");
    const std::string bytes = read(whole);
    write(dir.file(name), bytes.substr(0, bytes.size() / 2));
    auto s = open_file_source(dir.file(name), nullptr);
    if (!s) continue;  // refusing is fine too; crashing or hanging is not
    const int64_t n = drain_count(*s);
    EXPECT_LE(n, 44100 + 2048);
  }

  // Garbage in the middle of an MP3: the rest still plays.
  const std::string mp3 = make("hurt.mp3", "-c:a libmp3lame");
  std::string bytes = read(mp3);
  for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 3000; ++i) bytes[i] = static_cast<char>(rng());
  write(mp3, bytes);
  auto s = open_file_source(mp3, nullptr);
  ASSERT_TRUE(s);
  EXPECT_GT(drain_count(*s), 30000);
}

// Little-endian fields for hand-made headers.
std::string le32(uint32_t v) {
  std::string b(4, '\0');
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(v >> (8 * i));
  return b;
}
std::string le64(uint64_t v) { return le32(static_cast<uint32_t>(v)) + le32(static_cast<uint32_t>(v >> 32)); }

TEST_F(Files, HeadersThatLieAreBoundedByTheFileOrRefusedAtOnce) {
  const std::string s16 = read(make("s16.wav", "-c:a pcm_s16le"));
  const std::string f32 = read(make("f32.wav", "-c:a pcm_f32le"));
  const size_t fmt = s16.find("fmt "), list = s16.find("LIST"), data16 = s16.find("data");
  ASSERT_TRUE(fmt != std::string::npos && list != std::string::npos && data16 != std::string::npos);
  auto patch = [](std::string b, size_t at, const std::string& field) { return b.replace(at, field.size(), field); };
  const std::string fmt16 = s16.substr(fmt, 24);  // 44100 Hz stereo 16-bit
  const std::string huge_info = "LIST" + le32(0xFFFFFFFF) + "INFO" + "ISFT" + le32(0x7FFFFFF0) + "Lavf";
  struct Case {
    const char* name;
    std::string bytes;
    int64_t frames;  // expected length; -1: refused
  } cases[] = {
      // RF64 whose ds64 counts 2^61 samples in 8 KB.
      {"rf64.wav",
       "RF64" + le32(0xFFFFFFFF) + "WAVE" + "ds64" + le32(28) + le64(uint64_t{1} << 61) + le64(uint64_t{1} << 61) +
           le64(uint64_t{1} << 61) + le32(0) + fmt16 + "data" + le32(0xFFFFFFFF) + std::string(8000, '\0'),
       2000},
      // Float: the data size and the fact chunk's sample count both lie.
      {"f32.wav", patch(patch(f32, f32.find("data") + 4, le32(0x7FFFFFF0)), f32.find("fact") + 8, le32(0x7FFFFFFF)),
       44100},
      // A rate no device plays: refused, not a ring of gigabytes.
      {"rate.wav", patch(s16, fmt + 12, le32(0x7FFFFFFF)), -1},
      {"rate0.wav", patch(s16, fmt + 12, le32(0)), -1},
      {"channels.wav", patch(s16, fmt + 10, std::string("\x40\x00", 2)), -1},
      // A LIST claiming 4 GiB whose tag claims 2 GiB: before the data it hides
      // the data (refused), after it only the tag is lost.
      {"list-first.wav", s16.substr(0, list) + huge_info + s16.substr(list), -1},
      {"list-last.wav", s16 + huge_info, 44100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write(dir.file(c.name), c.bytes);
    int err = 0;
    const auto t0 = std::chrono::steady_clock::now();
    auto s = open_file_source(dir.file(c.name), &err);
    // A broken file is refused in milliseconds; a second is a generous bound against stalls of several.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    if (c.frames < 0) {
      EXPECT_FALSE(s);
      EXPECT_EQ(err, BASS_ERROR_FILEFORM);
      continue;
    }
    ASSERT_TRUE(s);
    EXPECT_EQ(s->length(), c.frames);
    EXPECT_EQ(drain_count(*s), c.frames);
    // Only integer samples may skip the reader's repair of NaN and overloads.
    EXPECT_EQ(s->bounded(), std::string(c.name) != "f32.wav");
  }
}

TEST_F(Files, LongVbrMp3HasExactLengthAndSeeks) {
  // Long enough that only the tail is decoded to count, at a low VBR quality
  // whose small frames lean on the bit reservoir.
  const std::string mp3 = dir.file("long.mp3");
  ASSERT_TRUE(
      run("ffmpeg -v error -nostdin -y -f lavfi -i \"aevalsrc=0.5*sin(2*PI*(100+20*t)*t):s=44100:d=75\" "
          "-c:a libmp3lame -q:a 8 " +
          sh_quote(mp3)));
  const auto ref = ffmpeg_decode(mp3, 1);
  auto s = open_file_source(mp3, nullptr);
  ASSERT_TRUE(s);
  ASSERT_EQ(s->info().channels, 1);
  EXPECT_EQ(s->length(), static_cast<int64_t>(ref.size()));
  for (int64_t target : {int64_t{60 * 44100 + 17}, int64_t{12345}, int64_t(ref.size()) - 1024, int64_t{30 * 44100}}) {
    SCOPED_TRACE(target);
    ASSERT_TRUE(s->seek_to(target));
    const auto buf = read_frames(*s, 1024);
    ASSERT_EQ(buf.size(), 1024u);
    double d = 0;
    for (size_t i = 0; i < buf.size(); ++i) d = std::max(d, std::fabs(double(buf[i]) - ref[target + i]));
    EXPECT_LE(d, 1e-6);
  }
}

}  // namespace
