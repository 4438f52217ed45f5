// File sources against independent decoders: lengths, content, seeks, tags, refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <map>

#include "audio/bass.h"
#include "audio/decode/ffmpeg_source.hpp"
#include "audio/source.hpp"
#include "media.hpp"

using tovarin::audio::open_file_source;
using tovarin::audio::Source;
using tovarin::audio::TagKey;
using tovarin::audio::decode::FfmpegSource;
using tovarin::audio::decode::PacketIndex;
using namespace tovarin::test;

namespace {

struct Format {
  const char* name;
  const char* file;
  const char* args;  // ffmpeg output options
  int rate;
  double tolerance;  // largest sample difference from the reference decode after a seek
};

// Two chirps, so every position of the signal differs from every other.
constexpr const char* kSignal =
    "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*(200+300*t)*t)|0.4*sin(2*PI*(500+150*t)*t):s=44100:d=3\"";

const Format kFormats[] = {
    {"wav", "a.wav", "-c:a pcm_s16le", 44100, 1e-7},
    {"flac", "a.flac", "-c:a flac -sample_fmt s16", 44100, 1e-7},
    {"mp3", "a.mp3", "-c:a libmp3lame -b:a 128k", 44100, 1e-6},
    {"mp3vbr", "v.mp3", "-c:a libmp3lame -q:a 4", 44100, 1e-6},
    {"vorbis", "a.ogg", "-c:a libvorbis -q:a 4", 44100, 1e-6},
    {"opus", "a.opus", "-c:a libopus -b:a 96k", 48000, 2e-3},
    {"aac", "a.m4a", "-c:a aac -aac_pns 0 -b:a 128k", 44100, 1e-6},
    {"adts", "a.aac", "-c:a aac -aac_pns 0 -b:a 128k", 44100, 1e-6},
};

// Each format's file and its reference decode, made when a test of this
// process first asks for them (each test runs in a process of its own).
class Media {
 public:
  static Media& get() {
    static Media m;
    return m;
  }
  const std::vector<float>& reference(const Format& f) {
    path(f);
    return reference_[f.name];
  }
  std::string path(const Format& f) {
    const std::string out = dir_.file(f.file);
    if (!reference_.count(f.name)) {
      run("ffmpeg -v error -nostdin -y " + std::string(kSignal) + " -ar " + std::to_string(f.rate) + " " + f.args +
          " " + sh_quote(out));
      reference_[f.name] = ffmpeg_decode(out, 2);
    }
    return out;
  }

 private:
  TempDir dir_;
  std::map<std::string, std::vector<float>> reference_;
};

double max_diff(const float* a, const float* b, size_t n) {
  double m = 0;
  for (size_t i = 0; i < n; ++i) m = std::max(m, std::fabs(double(a[i]) - b[i]));
  return m;
}

class FileFormat : public ::testing::TestWithParam<Format> {
 protected:
  void SetUp() override {
    if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  }
};

TEST_P(FileFormat, LengthAndContentMatchIndependentDecode) {
  const Format& f = GetParam();
  const auto& ref = Media::get().reference(f);
  ASSERT_FALSE(ref.empty());
  int err = -1;
  auto s = open_file_source(Media::get().path(f), &err);
  ASSERT_TRUE(s) << "error " << err;
  EXPECT_EQ(s->info().rate, f.rate);
  EXPECT_EQ(s->info().channels, 2);
  const bool lossless = std::string(f.name) == "wav" || std::string(f.name) == "flac";
  EXPECT_EQ(s->info().bits, lossless ? 16 : 0);
  EXPECT_EQ(s->length(), static_cast<int64_t>(ref.size() / 2));
  s->start();
  const auto got = read_frames(*s);
  ASSERT_EQ(got.size(), ref.size());
  EXPECT_LE(max_diff(got.data(), ref.data(), ref.size()), 1e-6);
  EXPECT_TRUE(s->finished());
  EXPECT_EQ(s->position(), static_cast<int64_t>(ref.size() / 2));
}

TEST_P(FileFormat, SeekLandsOnTheExactSample) {
  const Format& f = GetParam();
  const auto& ref = Media::get().reference(f);
  const int64_t total = static_cast<int64_t>(ref.size() / 2);
  int err = -1;
  auto s = open_file_source(Media::get().path(f), &err);
  ASSERT_TRUE(s);
  s->start();
  int round = 0;
  for (int64_t target : {int64_t{44100 + 123}, int64_t{5}, total - 700, int64_t{0}, int64_t{2 * 44100 + 1},
                         int64_t{1000}, int64_t{3457}, total / 2, total - 700, int64_t{44100 + 123}}) {
    SCOPED_TRACE("target " + std::to_string(target));
    // Every other seek comes after the decoder has run ahead to the end of the file.
    if (++round % 2 == 0) usleep(100000);
    ASSERT_TRUE(s->seek_to(target));
    EXPECT_EQ(s->position(), target);
    const size_t want = std::min<int64_t>(2048, total - target);
    const auto got = read_frames(*s, want);
    ASSERT_EQ(got.size(), want * 2);
    const double d = max_diff(got.data(), ref.data() + target * 2, want * 2);
    EXPECT_LE(d, f.tolerance);
    EXPECT_EQ(s->position(), target + static_cast<int64_t>(want));
  }
  // The end is a valid place to be; past it is not.
  EXPECT_TRUE(s->seek_to(total));
  EXPECT_TRUE(read_frames(*s).empty());
  EXPECT_TRUE(s->finished());
  EXPECT_FALSE(s->seek_to(total + 1));
  EXPECT_FALSE(s->seek_to(-1));
  // And playing resumes after the end.
  ASSERT_TRUE(s->seek_to(100));
  EXPECT_FALSE(s->finished());
  EXPECT_EQ(read_frames(*s).size(), ref.size() - 200);
}

// A seek the decoder cannot finish in time still returns; until the decoder
// has moved nothing is delivered, and then the sound starts at the target.
TEST(SlowSeek, NothingFromTheOldPlaceIsDeliveredWhileTheDecoderCatchesUp) {
  if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const Format& f = kFormats[0];
  const auto& ref = Media::get().reference(f);
  auto s = open_file_source(Media::get().path(f), nullptr);
  ASSERT_TRUE(s);
  s->start();
  const int64_t target = 44100 + 321;
  tovarin::audio::decode::testing_hold_seeks(true);
  const bool moved = s->seek_to(target);
  std::vector<float> buf(64 * 2);
  const size_t early = s->read(buf.data(), 64);
  const bool finished_early = s->finished();
  tovarin::audio::decode::testing_hold_seeks(false);
  EXPECT_TRUE(moved);
  EXPECT_EQ(early, 0u);
  EXPECT_FALSE(finished_early);
  const auto got = read_frames(*s, 2048);
  ASSERT_EQ(got.size(), 2048u * 2);
  EXPECT_LE(max_diff(got.data(), ref.data() + target * 2, 2048 * 2), f.tolerance);
  EXPECT_EQ(s->position(), target + 2048);
}

TEST_P(FileFormat, FilePositionsAreBytesOfTheFile) {
  const Format& f = GetParam();
  struct stat st {};
  ASSERT_EQ(::stat(Media::get().path(f).c_str(), &st), 0);
  auto s = open_file_source(Media::get().path(f), nullptr);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->file_position(BASS_FILEPOS_END), st.st_size);
  EXPECT_EQ(s->file_position(BASS_FILEPOS_START), 0);
  read_frames(*s);
  EXPECT_GT(s->file_position(BASS_FILEPOS_CURRENT), 0);
  EXPECT_LE(s->file_position(BASS_FILEPOS_CURRENT), st.st_size);
}

INSTANTIATE_TEST_SUITE_P(Formats, FileFormat, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// Raw MPEG audio and ADTS streams longer than the decoder's head start are
// counted beside it: the length (asked at once, so it waits), the seek right
// after opening and the frames a fresh open delivers to its end all agree
// with ffmpeg's decode. The files cover what the count must get right: with
// and without a Xing header, junk, large tags at either end, a cut. Where the
// count reads frame headers, it finds every packet the demuxer finds, at the
// same place and time; where headers cannot tell (junk between frames, an
// ADTS frame cut short, random bytes after a few frames), the demuxer counts.
TEST(RawStream, CountedBesideTheDecoderLikeFfmpegDecodes) {
  if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  TempDir dir;
  // Some noise, so that VBR files too outgrow the head start.
  const std::string signal =
      "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*(200+300*t)*t)+0.1*random(0)|0.4*sin(2*PI*(500+150*t)*t)+0.1*random(1):"
      "s=44100:d=25\"";
  auto encode = [&](const char* name, const char* args) {
    EXPECT_TRUE(run("ffmpeg -v error -nostdin -y " + signal + " " + args + " " + sh_quote(dir.file(name))));
    std::ifstream f(dir.file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  };
  auto copy = [&](const char* from, const char* name, const char* args) {
    EXPECT_TRUE(run("ffmpeg -v error -nostdin -y -i " + sh_quote(dir.file(from)) + " -c copy " + args + " " +
                    sh_quote(dir.file(name))));
  };
  const std::string cbr = encode("cbr-info.mp3", "-c:a libmp3lame -b:a 192k");
  const std::string vbr = encode("vbr-xing.mp3", "-c:a libmp3lame -q:a 1");
  copy("cbr-info.mp3", "cbr.mp3", "-write_xing 0");
  copy("vbr-xing.mp3", "vbr.mp3", "-write_xing 0");
  const std::string aac = encode("a.aac", "-c:a aac -aac_pns 0 -b:a 192k");
  encode("a.mp2", "-c:a mp2 -b:a 192k");
  encode("lsf.mp3", "-ar 22050 -c:a libmp3lame -b:a 64k");
  auto write = [&](const char* name, const std::string& bytes) {
    std::ofstream(dir.file(name), std::ios::binary) << bytes;
  };
  // An ID3v2 tag (mostly padding) larger than the decoder's head start.
  const uint32_t pad = 700000;
  std::string id3("ID3\x03\x00\x00", 6);
  for (int shift : {21, 14, 7, 0}) id3 += static_cast<char>((pad >> shift) & 0x7F);
  write("id3.mp3", id3 + std::string(pad, '\0') + vbr);
  // An APE tag, then an ID3v1 tag.
  std::string ape_item = std::string("\x05\0\0\0\0\0\0\0", 8) + "Title" + std::string(1, '\0') + "Tails";
  auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  const std::string ape = ape_item + "APETAGEX" + le32(2000) + le32(uint32_t(ape_item.size() + 32)) + le32(1) +
                          le32(0) + std::string(8, '\0');
  write("tail.mp3", cbr + ape + "TAG" + std::string(125, ' '));
  write("tail.aac", aac + ape + "TAG" + std::string(125, ' '));
  // A few frames, then bytes that hold frame syncs by chance.
  std::string noise;
  for (uint32_t x = 1; noise.size() < 300000;) noise += static_cast<char>((x = x * 1103515245 + 12345) >> 23);
  write("noise.mp3", cbr.substr(0, 20000) + noise);
  // Junk between frames, 8 s and 16 s in.
  std::string junky = vbr;
  for (const char* at : {"300", "600"}) {
    const long pos = std::stol(capture("ffprobe -v error -select_streams a -show_entries packet=pos -of csv=p=0 " +
                                       sh_quote(dir.file("vbr-xing.mp3")) + " | sed -n " + at + "p"));
    junky.insert(static_cast<size_t>(pos) + (junky.size() - vbr.size()), std::string(3000, 'J'));
  }
  write("junk.mp3", junky);
  // Cut in a frame, 90 % in: the Xing header promises more frames than there are.
  write("cut.mp3", vbr.substr(0, vbr.size() * 9 / 10));
  write("cut.aac", aac.substr(0, aac.size() * 9 / 10));

  const std::pair<const char*, bool> kFiles[] = {
      // file, its count's end read from headers
      {"cbr-info.mp3", true}, {"cbr.mp3", true},   {"vbr-xing.mp3", true}, {"vbr.mp3", true},   {"a.aac", true},
      {"a.mp2", true},        {"lsf.mp3", true},   {"id3.mp3", true},      {"tail.mp3", true},  {"tail.aac", true},
      {"cut.mp3", true},      {"junk.mp3", false}, {"cut.aac", false},     {"noise.mp3", false}};
  for (const auto& [name, from_headers] : kFiles) {
    SCOPED_TRACE(name);
    const std::string path = dir.file(name);
    const auto ref = ffmpeg_decode(path, 2);
    const int64_t total = static_cast<int64_t>(ref.size() / 2);
    // Closed at once, while its count may still run: no wait for it, no leak.
    EXPECT_TRUE(open_file_source(path, nullptr));
    auto s = open_file_source(path, nullptr);
    ASSERT_TRUE(s);
    s->start();
    s->length();
    const auto* index = dynamic_cast<const FfmpegSource&>(*s).packet_index();
    ASSERT_TRUE(index);
    EXPECT_EQ(index->from_headers, from_headers);
    PacketIndex::use_frame_scan(false);
    auto demuxed = open_file_source(path, nullptr);
    PacketIndex::use_frame_scan(true);
    ASSERT_TRUE(demuxed);
    EXPECT_EQ(demuxed->length(), s->length());
    const auto* counted = dynamic_cast<const FfmpegSource&>(*demuxed).packet_index();
    ASSERT_TRUE(counted);
    EXPECT_FALSE(counted->from_headers);
    EXPECT_FALSE(counted->table.empty());
    EXPECT_TRUE(counted->table == index->table);
    // Only the count is compared: what random bytes decode to is theirs to
    // say, and a cut ADTS frame is counted whole though nothing of it plays.
    if (std::string(name) == "noise.mp3" || std::string(name) == "cut.aac") continue;
    const int64_t target = std::string(name) == "cut.mp3" ? total / 2 : total - 3000;
    ASSERT_TRUE(s->seek_to(target));
    const auto got = read_frames(*s, 2048);
    ASSERT_EQ(got.size(), 2048u * 2);
    // MP2 decodes to 16-bit integers: a seek may differ from the reference in the last bit.
    EXPECT_LE(max_diff(got.data(), ref.data() + target * 2, got.size()), std::string(name) == "a.mp2" ? 4e-5 : 1e-6);
    // The cut file's header promises its padding at an end it no longer has:
    // it is dropped all the same, as when the file was counted at open.
    const int64_t length = s->length();
    auto fresh = open_file_source(path, nullptr);
    ASSERT_TRUE(fresh);
    fresh->start();
    EXPECT_EQ(static_cast<int64_t>(read_frames(*fresh).size() / 2), length);
    EXPECT_EQ(fresh->length(), length);
    if (std::string(name) != "cut.mp3") {
      EXPECT_EQ(length, total);
    }
  }
}

}  // namespace

// Ogg radio and its recordings chain one logical stream after another: a
// 3 s part at 44.1 kHz stereo, then 3 s at 48 kHz mono. Every part plays,
// at its own pitch, and the queries follow the part being heard.
TEST(ChainedOgg, EveryPartPlaysAtItsPitchWithItsFormatAndTags) {
  if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  TempDir dir;
  for (const char* codec : {"libvorbis", "libopus"}) {
    const std::string chained = chained_ogg(dir, codec);
    ASSERT_NE(chained, "") << codec;
    int error = 0;
    auto s = open_file_source(chained, &error);
    ASSERT_TRUE(s) << codec << " error " << error;
    const int rate = s->info().rate;
    EXPECT_NEAR(s->length(), 6.0 * rate, 0.01 * rate) << codec;
    int heard_rate = 0, heard_channels = 0;
    s->heard_format(&heard_rate, &heard_channels);
    EXPECT_EQ(heard_channels, 2) << codec;
    EXPECT_EQ(s->tag(TagKey::Title), "PartOne") << codec;

    const std::vector<float> head = read_frames(*s, static_cast<size_t>(rate) * 4);
    s->heard_format(&heard_rate, &heard_channels);
    EXPECT_EQ(heard_rate, 48000) << codec;
    EXPECT_EQ(heard_channels, 1) << codec;
    EXPECT_EQ(s->tag(TagKey::Title), "PartTwo") << codec;
    const std::vector<float> tail = read_frames(*s);
    const size_t frames = (head.size() + tail.size()) / 2;
    EXPECT_NEAR(static_cast<double>(frames), 6.0 * rate, 0.01 * rate) << codec;

    // The second part's tone, 3.5 s to 4 s in, on both sides.
    size_t crossings = 0;
    double left = 0, right = 0;
    for (size_t f = static_cast<size_t>(rate * 3.5); f + 1 < static_cast<size_t>(rate) * 4; ++f) {
      crossings += (head[2 * f] < 0) != (head[2 * f + 2] < 0);
      left = std::max(left, std::fabs(double(head[2 * f])));
      right = std::max(right, std::fabs(double(head[2 * f + 1])));
    }
    EXPECT_NEAR(crossings / 2.0 / 0.5, 1000.0, 10.0) << codec;
    EXPECT_NEAR(right, left, 0.01) << codec;
    EXPECT_GT(left, 0.05) << codec;
  }
}
