// URL sources against a loopback server of our own that misbehaves on purpose.
// Every open must come back within its bound, and a stream that dies must end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "audio/bass.h"
#include "radio_test.hpp"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

constexpr int kConnectMs = 1500;
constexpr int kDataMs = 1500;
const std::string kUtf8Title = "Fj\xC3\xA4rran \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC";  // as the station sends it

class Radio : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!have_tool("ffmpeg") || access("/usr/bin/python3", X_OK) != 0) return;
    dir_ = std::make_unique<TempDir>();
    mp3_ = dir_->file("tone.mp3");
    if (!make_tone(mp3_, 10, "-c:a libmp3lame -b:a 128k")) return;
    const std::string script = std::string(TOVARIN_RADIO_DIR) + "/fault_server.py";
    server_ = std::make_unique<Process>(std::vector<std::string>{"/usr/bin/python3", script, mp3_});
    port_ = std::atoi(server_->read_line(10000).c_str());
    // https stations: one whose certificate a test CA signed, one that signed its own.
    if (!have_tool("openssl")) return;
    const std::string d = sh_quote(dir_->path());
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2";
    if (!run("cd " + d +
             " && printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext"
             " && openssl req -x509" +
             ec +
             " -keyout ca.key -out ca.pem -subj /CN=tovarin-test-ca 2>/dev/null"
             " && openssl req" +
             ec +
             " -keyout station.key -out station.csr -subj /CN=127.0.0.1 2>/dev/null"
             " && openssl x509 -req -in station.csr -CA ca.pem -CAkey ca.key -set_serial 2 -days 2"
             " -extfile san.ext -out station.pem 2>/dev/null"
             " && openssl req -x509" +
             ec +
             " -keyout rogue.key -out rogue.pem -subj /CN=127.0.0.1"
             " -addext subjectAltName=IP:127.0.0.1 2>/dev/null"))
      return;
    ca_ = dir_->file("ca.pem");
    tls_server_ = std::make_unique<Process>(std::vector<std::string>{
        "/usr/bin/python3", script, mp3_, "--tls", dir_->file("station.pem"), dir_->file("station.key")});
    tls_port_ = std::atoi(tls_server_->read_line(10000).c_str());
    rogue_server_ = std::make_unique<Process>(std::vector<std::string>{
        "/usr/bin/python3", script, mp3_, "--tls", dir_->file("rogue.pem"), dir_->file("rogue.key")});
    rogue_port_ = std::atoi(rogue_server_->read_line(10000).c_str());
  }
  static void TearDownTestSuite() {
    server_.reset(), tls_server_.reset(), rogue_server_.reset();
    dir_.reset();  // after the servers that serve from it
  }
  void SetUp() override {
    if (!have_tool("ffmpeg") || access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "ffmpeg or python3 missing";
    ASSERT_GT(port_, 0) << "test server did not start";
  }
  static std::string url(const std::string& path) { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  static std::unique_ptr<Source> open(const std::string& path, int* err) {
    return open_url_source(url(path), err, kConnectMs, kDataMs);
  }

  // An open that must fail, with an error, within `bound` seconds.
  static void expect_refused(const std::string& url, double bound = 6.0) {
    int err = 0;
    const auto t = Clock::now();
    EXPECT_FALSE(open_url_source(url, &err, kConnectMs, kDataMs)) << url;
    EXPECT_NE(err, 0) << url;
    EXPECT_LT(seconds_since(t), bound) << url;
  }

  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<Process> server_, tls_server_, rogue_server_;
  static inline std::string mp3_;
  static inline int port_ = 0;
  static inline std::string ca_;
  static inline int tls_port_ = 0, rogue_port_ = 0;
};

// Names the certificates that https servers are checked against, for one scope.
struct CaFile {
  explicit CaFile(const std::string& path) { setenv("TOVARIN_CA_FILE", path.c_str(), 1); }
  ~CaFile() { unsetenv("TOVARIN_CA_FILE"); }
};

TEST_F(Radio, PlaysAStationWithItsHeadersAndLiveTitle) {
  int err = -1;
  auto s = open("/icy?t=utf8", &err);
  ASSERT_TRUE(s) << "error " << err;
  EXPECT_TRUE(s->info().is_url);
  EXPECT_EQ(s->info().rate, 44100);
  EXPECT_EQ(s->info().channels, 2);
  EXPECT_EQ(s->info().length_frames, -1);
  s->start();
  const auto pcm = read_frames(*s, 44100, 10);
  ASSERT_EQ(pcm.size(), 88200u);
  // The station's tone at the level an independent decode of the file has.
  const auto ref = ffmpeg_decode(mp3_, 2);
  ASSERT_GT(ref.size(), 88200u);
  EXPECT_NEAR(rms(pcm.data(), pcm.size()), rms(ref.data(), 88200), 0.005);
  EXPECT_EQ(s->tag(TagKey::Title), kUtf8Title);
  EXPECT_EQ(s->tag(TagKey::Genre), "Jazz");
  EXPECT_EQ(s->tag(TagKey::Album), "Test \xC3\xA9 Radio");  // the station's name, sent in Latin-1
  EXPECT_FALSE(s->seek_to(0));
  const int64_t got = s->file_position(BASS_FILEPOS_END);
  EXPECT_GT(got, 0);
  read_frames(*s, 44100, 10);
  // No Content-Length: bytes so far. The decoder refills the room just freed
  // on its own thread, in the network buffer's steps, so allow it a moment.
  const auto t = Clock::now();
  while (s->file_position(BASS_FILEPOS_END) <= got && seconds_since(t) < 3) usleep(10000);
  EXPECT_GT(s->file_position(BASS_FILEPOS_END), got);
  EXPECT_FALSE(s->finished());
}

TEST_F(Radio, LiveTitleFollowsTheStation) {
  auto s = open("/icy?t=changing", nullptr);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->tag(TagKey::Title), "Song 0");
  const auto t = Clock::now();
  while (s->tag(TagKey::Title) == "Song 0" && seconds_since(t) < 15) read_frames(*s, 4410, 1);
  EXPECT_NE(s->tag(TagKey::Title), "Song 0");
  EXPECT_EQ(s->tag(TagKey::Title).rfind("Song ", 0), 0u);
}

TEST_F(Radio, MetadataBlocksOfTheLargestSizeAreRead) {
  auto s = open("/icy?t=max", nullptr);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->tag(TagKey::Title), std::string(255 * 16 - 15, 'M'));
  EXPECT_EQ(read_frames(*s, 44100, 10).size(), 88200u);
}

TEST_F(Radio, TitlesInAnyEncodingComeOutAsUtf8) {
  const std::pair<const char*, const char*> cases[] = {
      {"latin1", "Caf\xC3\xA9 del Mar"},
      {"cp1252", "\xE2\x80\x9CQuoted\xE2\x80\x9D \xE2\x82\xAC price"},
      {"badutf8", "Bad \xC3\x83( seq \xC3\xBF end"},
  };
  for (const auto& [kind, want] : cases) {
    SCOPED_TRACE(kind);
    auto s = open(std::string("/icy?t=") + kind, nullptr);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->tag(TagKey::Title), want);
  }
}

TEST_F(Radio, HttpsStationWithATrustedCertificatePlaysWithItsTitle) {
  if (tls_port_ <= 0) GTEST_SKIP() << "openssl missing or the https station did not start";
  const std::string path = "/icy?t=utf8";
  {
    CaFile trust(ca_);
    int err = -1;
    auto s = open_url_source("https://127.0.0.1:" + std::to_string(tls_port_) + path, &err, kConnectMs, kDataMs);
    ASSERT_TRUE(s) << "error " << err;
    EXPECT_EQ(s->tag(TagKey::Title), kUtf8Title);
    EXPECT_EQ(read_frames(*s, 44100, 10).size(), 88200u);
  }
  // Refused, each within the bound: a certificate that signed itself; the
  // station's name not the one certified; a test CA the system does not know.
  const std::string rogue = "https://127.0.0.1:" + std::to_string(rogue_port_) + path;
  const std::string by_name = "https://localhost:" + std::to_string(tls_port_) + path;
  const std::string untrusted = "https://127.0.0.1:" + std::to_string(tls_port_) + path;
  for (const auto& [url, ca] : {std::pair{rogue, ca_}, std::pair{by_name, ca_}, std::pair{untrusted, std::string()}}) {
    std::unique_ptr<CaFile> trust(ca.empty() ? nullptr : new CaFile(ca));
    expect_refused(url);
  }
}

TEST_F(Radio, AFileServedWithALengthPlaysToItsEnd) {
  auto s = open("/ok", nullptr);
  ASSERT_TRUE(s);
  std::ifstream f(mp3_, std::ios::binary | std::ios::ate);
  EXPECT_EQ(s->file_position(BASS_FILEPOS_END), static_cast<int64_t>(f.tellg()));
  const auto pcm = read_frames(*s, 20 * 44100, 20);
  EXPECT_TRUE(s->finished());
  EXPECT_NEAR(pcm.size() / 2.0, 10 * 44100, 2 * 1152);
}

TEST_F(Radio, FailingServersReturnWithinTheBound) {
  // The bound is the larger timeout plus a second; allow the shared machine plenty on top.
  expect_refused("http://127.0.0.1:" + std::to_string(unused_port()) + "/x.mp3");
  for (const char* path : {"/404", "/silent", "/headers-only", "/to-file", "/to-ftp", "/loop"})
    expect_refused(url(path));
}

TEST_F(Radio, GarbageIsRefusedOrEndsByItself) {
  const auto t = Clock::now();
  auto s = open("/garbage", nullptr);
  EXPECT_LT(seconds_since(t), 6.0);
  if (s) {
    read_frames(*s, 1 << 30, 15);
    EXPECT_TRUE(s->finished());
  }
}

TEST_F(Radio, StreamsThatStopOrVanishEndCleanly) {
  for (const char* path : {"/stall", "/cut"}) {
    SCOPED_TRACE(path);
    auto s = open(path, nullptr);
    ASSERT_TRUE(s);
    const auto pcm = read_frames(*s, 1 << 30, 15);
    EXPECT_TRUE(s->finished());
    EXPECT_GT(pcm.size() / 2, 44100u);  // 64 KiB at 128 kbit/s is about 4 s
    // A server with no station headers that closes has sent the whole file: not called again.
    if (std::string(path) == "/cut") {
      EXPECT_LT(pcm.size() / 2, 5 * 44100u);
    }
  }
}

TEST_F(Radio, AStationThatDropsIsConnectedAgainAndPlaysOn) {
  // Its first connection drops after 3 s: reset, closed, or gone silent; a
  // station found through a playlist connects to its entry again.
  for (const std::string path : {"/flaky?drop=reset&id=reset", "/flaky?drop=close&id=close",
                                 "/flaky?drop=stall&id=stall", "/list.pls?b=flaky"}) {
    SCOPED_TRACE(path);
    auto s = open(path, nullptr);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->tag(TagKey::Title), "Part 1");
    size_t frames = 0;
    int64_t bytes = 0;
    const auto t = Clock::now();
    while (s->tag(TagKey::Title) != "Part 2" && !s->finished() && seconds_since(t) < 12) {
      frames += read_frames(*s, 4410, 1).size() / 2;
      bytes = std::max(bytes, s->file_position(BASS_FILEPOS_END));
    }
    EXPECT_EQ(s->tag(TagKey::Title), "Part 2");  // the second connection's live title
    const auto after = read_frames(*s, 44100, 10);
    EXPECT_EQ(after.size(), 88200u);
    EXPECT_FALSE(s->finished());
    // Position and bytes received count on across the connections.
    EXPECT_EQ(s->position(), static_cast<int64_t>(frames + after.size() / 2));
    EXPECT_GT(s->file_position(BASS_FILEPOS_END), bytes);
  }
}

// Station links as directories hand them out: a playlist's first entry that
// plays, found by content type, path or text, within one bound for the whole
// try; and nothing but stations, whatever the list names.
TEST_F(Radio, PlaylistsPlayTheirFirstLiveEntryWithinOneBound) {
  const std::string utf8 = kUtf8Title, latin1 = "Caf\xC3\xA9 del Mar";
  for (const auto& [path, title] : {std::pair<std::string, std::string>{"/list?t=pls&b=pls", utf8},
                                    {"/list?t=m3u&b=m3u", latin1},
                                    {"/list?t=text&b=m3u", latin1},
                                    {"/list.pls?b=pls", utf8},
                                    {"/list?t=m3u&b=nest", utf8}}) {
    SCOPED_TRACE(path);
    int err = -1;
    auto s = open(path, &err);
    ASSERT_TRUE(s) << "error " << err;
    EXPECT_EQ(s->tag(TagKey::Title), title);
    EXPECT_EQ(s->info().location, url(path));
    EXPECT_EQ(read_frames(*s, 4410, 10).size(), 8820u);
  }
  for (const char* path : {"/list?t=m3u&b=dead", "/list?t=pls&b=local", "/list?t=m3u&b=deep", "/list?t=text&b=endless",
                           "/list?t=m3u&b=huge", "/loop"})
    // The bound of one open (the longer timeout and a second), and room for a shared machine.
    expect_refused(url(path), std::max(kConnectMs, kDataMs) / 1000.0 + 1 + 2);
}

// An ID3 tag naming "Song N" by "Band", as HLS stations send with each song.
std::string id3_tag(int n) {
  std::string frames;
  for (const auto& [id, text] :
       {std::pair<std::string, std::string>{"TIT2", "Song " + std::to_string(n)}, {"TPE1", "Band"}}) {
    const size_t len = text.size() + 1;  // the encoding byte (3: UTF-8), then the text
    frames += id + std::string{0, 0, 0, static_cast<char>(len)} + std::string(2, '\0') + '\3' + text;
  }
  return "ID3" + std::string{4, 0, 0, 0, 0, 0, static_cast<char>(frames.size())} + frames;
}

// The AAC of `aac` cut into on-demand HLS of 1 s segments, each led by the
// ID3 tag of its own song: MPEG-TS segments with a timed-metadata stream
// (ts), or packed audio with the tag in front. Writes NAME.m3u8.
bool write_id3_hls(const std::string& aac, const TempDir& dir, const std::string& name, bool ts) {
  AVFormatContext *in = nullptr, *out = nullptr;
  if (avformat_open_input(&in, aac.c_str(), nullptr, nullptr) < 0) return false;
  avformat_find_stream_info(in, nullptr);  // the parser gives the packets their timestamps
  const AVRational tb = in->streams[0]->time_base;
  std::ofstream list(dir.file(name + ".m3u8")), packed;
  list << "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n";
  AVPacket *pkt = av_packet_alloc(), *tag = av_packet_alloc();
  const auto end_ts = [&] {
    if (out) av_write_trailer(out), avio_closep(&out->pb), avformat_free_context(out), out = nullptr;
  };
  bool ok = pkt && tag;
  for (int seg = -1; ok && av_read_frame(in, pkt) >= 0; av_packet_unref(pkt)) {
    if (av_compare_ts(pkt->pts, tb, seg + 1, AVRational{1, 1}) >= 0) {
      const std::string file = name + "-" + std::to_string(++seg) + (ts ? ".ts" : ".aac"), id3 = id3_tag(seg);
      list << "#EXTINF:1.0,\n" << file << "\n";
      end_ts();
      if (!ts) {
        packed = std::ofstream(dir.file(file), std::ios::binary);
        packed << id3;
        continue;
      }
      ok = avformat_alloc_output_context2(&out, nullptr, "mpegts", dir.file(file).c_str()) >= 0 &&
           avformat_new_stream(out, nullptr) && avformat_new_stream(out, nullptr) &&
           avcodec_parameters_copy(out->streams[0]->codecpar, in->streams[0]->codecpar) >= 0;
      if (!ok) return false;  // a test helper: what it leaks then matters no more
      out->streams[1]->codecpar->codec_type = AVMEDIA_TYPE_DATA;
      out->streams[1]->codecpar->codec_id = AV_CODEC_ID_TIMED_ID3;
      if (avio_open(&out->pb, dir.file(file).c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(out, nullptr) < 0 ||
          av_new_packet(tag, static_cast<int>(id3.size())) < 0)
        return false;
      memcpy(tag->data, id3.data(), id3.size());
      tag->stream_index = 1;
      tag->pts = tag->dts = av_rescale_q(pkt->pts, tb, out->streams[1]->time_base);
      ok = av_interleaved_write_frame(out, tag) >= 0;
    }
    if (!ts) {
      packed.write(reinterpret_cast<const char*>(pkt->data), pkt->size);
    } else if (out) {
      av_packet_rescale_ts(pkt, tb, out->streams[0]->time_base);
      ok = ok && av_interleaved_write_frame(out, pkt) >= 0;
    }
  }
  end_ts();
  list << "#EXT-X-ENDLIST\n";
  av_packet_free(&pkt);
  av_packet_free(&tag);
  avformat_close_input(&in);
  return ok && list.good() && (ts || packed.good());
}

// HLS made by ffmpeg (1 s AAC segments in MPEG-TS), on demand and live; a
// live playlist that stops growing is a station that stalls: bounded, and
// connected again.
TEST_F(Radio, HlsPlaysOnDemandAndLiveAndOutlivesAStall) {
  ASSERT_TRUE(
      run("ffmpeg -v error -nostdin -y -f lavfi -i \"sine=frequency=440:sample_rate=44100:duration=20\" -ac 2 "
          "-c:a aac -b:a 64k -f hls -hls_time 1 -hls_list_size 0 -hls_playlist_type vod -hls_segment_filename " +
          sh_quote(dir_->file("v%d.ts")) + " " + sh_quote(dir_->file("vod.m3u8"))));
  int err = -1;
  auto vod = open("/files/vod.m3u8", &err);
  ASSERT_TRUE(vod) << "error " << err;
  EXPECT_NEAR(vod->info().length_frames, 20.0 * 44100, 0.5 * 44100);
  EXPECT_EQ(read_frames(*vod, 44100, 10).size(), 88200u);
  vod.reset();

  // Songs named by ID3 in either kind of segment: the title follows what is heard.
  ASSERT_TRUE(make_tone(dir_->file("tone.aac"), 4, "-c:a aac -b:a 64k"));
  for (const bool ts : {true, false}) {
    SCOPED_TRACE(ts ? "MPEG-TS" : "packed audio");
    const std::string name = ts ? "id3ts" : "id3aac";
    ASSERT_TRUE(write_id3_hls(dir_->file("tone.aac"), *dir_, name, ts));
    auto s = open("/files/" + name + ".m3u8", &err);
    ASSERT_TRUE(s) << "error " << err;
    EXPECT_EQ(s->tag(TagKey::Title), "Band - Song 0");
    EXPECT_EQ(read_frames(*s, 44100 * 5 / 2, 10).size(), 44100 * 5u);
    EXPECT_EQ(s->tag(TagKey::Title), "Band - Song 2");
  }

  auto live = open("/hls/live.m3u8?id=plain", &err);
  ASSERT_TRUE(live) << "error " << err;
  EXPECT_EQ(live->info().length_frames, -1);
  EXPECT_EQ(read_frames(*live, 4 * 44100, 10).size(), 4 * 88200u);

  // Stalled from 2 s to 8 s: the stream neither hangs nor ends.
  auto stalled = open("/hls/live.m3u8?id=stall&stall=1", &err);
  ASSERT_TRUE(stalled) << "error " << err;
  const auto pcm = read_frames(*stalled, 10 * 44100, 20);
  EXPECT_FALSE(stalled->finished());
  EXPECT_EQ(pcm.size(), 10 * 88200u);
}

// Ogg radio chains a part per song: the title and the format follow the
// part being heard, and the second part plays at its own pitch.
TEST_F(Radio, AChainedOggStationFollowsItsParts) {
  ASSERT_NE(chained_ogg(*dir_, "libvorbis"), "");
  int err = -1;
  auto s = open("/files/libvorbis-chained.ogg", &err);
  ASSERT_TRUE(s) << "error " << err;
  EXPECT_EQ(s->tag(TagKey::Title), "PartOne");
  const auto pcm = read_frames(*s, static_cast<size_t>(44100 * 4.5), 10);
  ASSERT_EQ(pcm.size(), static_cast<size_t>(44100 * 4.5) * 2);
  EXPECT_EQ(s->tag(TagKey::Title), "PartTwo");
  int rate = 0, channels = 0;
  s->heard_format(&rate, &channels);
  EXPECT_EQ(rate, 48000);
  EXPECT_EQ(channels, 1);
  size_t crossings = 0;
  for (size_t f = 44100 * 4; f + 1 < static_cast<size_t>(44100 * 4.5); ++f)
    crossings += (pcm[2 * f] < 0) != (pcm[2 * f + 2] < 0);
  EXPECT_NEAR(crossings / 2.0 / 0.5, 1000.0, 10.0);
}

TEST_F(Radio, APauseLongerThanTheDataTimeoutIsNoDrop) {
  auto s = open("/flaky?id=pause", nullptr);
  ASSERT_TRUE(s);
  EXPECT_EQ(read_frames(*s, 44100, 5).size(), 88200u);
  usleep((kDataMs + 1500) * 1000);  // nobody reads: the decoder waits for room all along
  EXPECT_EQ(read_frames(*s, 3 * 44100, 10).size(), 3 * 88200u);
  EXPECT_FALSE(s->finished());
  EXPECT_EQ(s->tag(TagKey::Title), "Part 1");  // the first connection still
}

TEST_F(Radio, AStationThatStaysGoneEndsTheStream) {
  auto s = open("/gone?id=1", nullptr);
  ASSERT_TRUE(s);
  const auto t = Clock::now();
  const auto pcm = read_frames(*s, 1 << 30, 15);
  EXPECT_TRUE(s->finished());
  EXPECT_GT(pcm.size() / 2, 3u * 44100);  // 3 s at the station's pace of four times real time
  // The drop at 3 s, then attempts for at most the data timeout; allow the shared machine plenty.
  EXPECT_LT(seconds_since(t), 3 + kDataMs / 1000.0 + 4);
}

// Timeouts of a minute: a close that waited for the server instead of
// breaking off at once would take that long; the bound is met only by that.
TEST_F(Radio, ClosingAStalledOrBusyStreamIsPrompt) {
  for (const char* path : {"/stall", "/live"}) {
    SCOPED_TRACE(path);
    auto s = open_url_source(url(path), nullptr, 60000, 60000);
    ASSERT_TRUE(s);
    read_frames(*s, 4410, 2);
    usleep(300000);
    const auto t = Clock::now();
    s.reset();
    EXPECT_LT(seconds_since(t), 30.0);
  }
}

TEST_F(Radio, DefaultBoundHoldsForAServerThatNeverAnswers) {
  int err = 0;
  const auto t = Clock::now();
  EXPECT_FALSE(open_url_source(url("/silent"), &err));
  const double took = seconds_since(t);
  EXPECT_GT(took, 4.0);  // it did wait for the server
  EXPECT_LT(took, 9.0);  // about 6 s, with room for a loaded machine
}

}  // namespace
