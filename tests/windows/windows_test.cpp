// What only the Windows build has to show: the export table by ordinal, the
// same sound as the Linux build, and texts in the ANSI code page.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "host_fixture.hpp"

namespace {

using WindowsExportTest = PluginTest;

TEST_F(WindowsExportTest, EveryExportIsFoundByNameAndByItsOrdinal) {
  const auto table = ExportTable();
  ASSERT_EQ(table.size(), 56u);
  HMODULE module = static_cast<HMODULE>(plugin.library);
  for (const auto& [name, ordinal] : table) {
    const FARPROC by_name = GetProcAddress(module, name.c_str());
    const FARPROC by_ordinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    EXPECT_NE(by_name, nullptr) << name;
    EXPECT_EQ(by_name, by_ordinal) << name << " @" << ordinal;
  }
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(57)), nullptr);
  // A host that calls by ordinal: GetInfo is @48.
  auto get_info =
      reinterpret_cast<const char* (*)()>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(48))));
  ASSERT_NE(get_info, nullptr);
  EXPECT_STREQ(get_info(), "Tovarin 1.0 betta");
}

// --- the same sound as the Linux build ---------------------------------------

// The Linux reference host (tovarin), given by the test script; the build
// tree's own when it is there.
std::string LinuxHost() {
  if (const char* host = std::getenv("TOVARIN_LINUX_HOST")) return host;
  const std::string built = TOVARIN_SOURCE_DIR "/build/bin/tovarin";
  return std::ifstream(built).good() ? built : std::string();
}

// Where `part` (interleaved stereo) lies in `whole`, matching within `tolerance`
// per sample; -1 when nowhere.
long Find(const std::vector<int16_t>& whole, const std::vector<int16_t>& part, int tolerance, int& worst) {
  for (size_t at = 0; at + part.size() <= whole.size(); at += 2) {
    size_t i = 0;
    int max_diff = 0;
    for (; i < part.size(); ++i) {
      const int d = std::abs(int(whole[at + i]) - int(part[i]));
      if (d > tolerance) break;
      max_diff = std::max(max_diff, d);
    }
    if (i == part.size()) {
      worst = max_diff;
      return long(at);
    }
  }
  return -1;
}

class LinuxMatchTest : public WavOutputTest {
 protected:
  // Makes `name`: 3 s of pink noise (seed) and a sine (hz), the right side
  // at half the left, encoded with `codec`. Plays it here through the wav:
  // output and on Linux through the reference host; one second of the Linux
  // output, taken a second after its sound begins (the fade-in is over),
  // must appear in this output with every sample within one 16-bit step.
  void ExpectSameSound(const std::string& name, int seed, int hz, const std::string& codec) {
    const std::string linux_host = LinuxHost();
    if (linux_host.empty()) GTEST_SKIP() << "no Linux build to compare with (TOVARIN_LINUX_HOST)";
    const std::string media = TempDir() + "/" + name;
    ASSERT_TRUE(::Run("ffmpeg -v error -y -f lavfi -i 'anoisesrc=d=3:c=pink:a=0.3:seed=" + std::to_string(seed) +
                      "' -f lavfi -i 'sine=f=" + std::to_string(hz) +
                      ":d=3' -filter_complex amix=inputs=2,pan='stereo|c0=c0|c1=0.5*c0' -ar 44100 " + codec + " " +
                      media));
    const std::string reference = media + ".linux.wav";
    ASSERT_TRUE(::Run("TOVARIN_AUDIO_OUTPUT=wav:" + reference + " " + linux_host + " play --spectrum off " + media +
                      " </dev/null >/dev/null 2>&1"));
    WavData linux_wav;
    ASSERT_TRUE(ReadWav(reference, linux_wav));

    StartPlayer();
    ASSERT_TRUE(plugin.Create(media));
    plugin.Bass_Play();
    PumpFor(3500);
    const WavData here = Heard();

    size_t start = 0;
    while (start < linux_wav.samples.size() && std::abs(linux_wav.samples[start]) < 64) ++start;
    start = (start / 2 + 44100) * 2;
    ASSERT_LT(start + 88200, linux_wav.samples.size()) << "the Linux output is too short";
    const std::vector<int16_t> excerpt(linux_wav.samples.begin() + long(start),
                                       linux_wav.samples.begin() + long(start + 88200));
    int worst = -1;
    const long at = Find(here.samples, excerpt, 1, worst);
    EXPECT_GE(at, 0) << "one second of the Linux output is not in this one";
    EXPECT_LE(worst, 1);
    std::printf("one second of the Linux output found at frame %ld, largest difference %d\n", at / 2, worst);
  }
};

TEST_F(LinuxMatchTest, AWavSoundsAsOnLinux) { ExpectSameSound("match.wav", 7, 440, "-c:a pcm_s16le"); }

TEST_F(LinuxMatchTest, AnMp3SoundsAsOnLinux) { ExpectSameSound("match.mp3", 9, 660, "-c:a libmp3lame -b:a 160k"); }

// --- HLS ----------------------------------------------------------------------

// An on-demand HLS stream (AAC in MPEG-TS segments, as ffmpeg makes it) from a
// loopback server plays through the Windows build's demuxers and protocols.
using HlsTest = WavOutputTest;

TEST_F(HlsTest, AnHlsStreamFromALoopbackServerPlays) {
  if (!::Run("command -v python3 >/dev/null")) GTEST_SKIP() << "no python3 for the server";
  const std::string dir = TempDir() + "/hls";
  ASSERT_TRUE(::Run("mkdir -p " + dir +
                    " && ffmpeg -v error -y -f lavfi -i 'sine=f=440:d=4' -ac 2 -c:a aac "
                    "-b:a 64k -f hls -hls_time 1 -hls_playlist_type vod " +
                    dir + "/index.m3u8"));
  // The server ends by itself should the test not come back to end it.
  ASSERT_TRUE(::Run("cd " + dir +
                    " && (timeout 120 python3 -u -m http.server --bind 127.0.0.1 0 >server.log 2>&1 "
                    "& echo $! >server.pid)"));
  std::string port;
  for (int i = 0; i < 100 && port.empty(); ++i) {
    std::ifstream log(dir + "/server.log");
    std::string line;
    std::getline(log, line);  // "Serving HTTP on 127.0.0.1 port N (...)"
    if (const size_t at = line.find(" port "); at != std::string::npos) port = std::to_string(std::atoi(&line[at + 6]));
    if (port.empty()) PumpFor(50);
  }
  ASSERT_FALSE(port.empty()) << "the server did not start";
  StartPlayer();
  const bool created = plugin.Create("http://127.0.0.1:" + port + "/index.m3u8");
  if (created) {
    plugin.Bass_Play();
    PumpFor(2500);
  }
  const WavData heard = Heard();
  ::Run("kill $(cat " + dir + "/server.pid)");
  ASSERT_TRUE(created);
  // About a second of the tone at least (three samples in four are this loud).
  size_t loud = 0;
  for (size_t i = 0; i < heard.samples.size(); i += 2) loud += std::abs(heard.samples[i]) > 1000;
  EXPECT_GT(loud, 30000u) << "of " << heard.samples.size() / 2 << " frames";
}

// --- texts in the ANSI code page ---------------------------------------------

// UTF-8 to the system's ANSI code page; empty when a character has no place in it.
std::string Ansi(const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), int(utf8.size()), wide.data(), int(wide.size())));
  std::string ansi(wide.size() * 2 + 1, '\0');
  BOOL lossy = FALSE;
  ansi.resize(
      WideCharToMultiByte(CP_ACP, 0, wide.c_str(), int(wide.size()), ansi.data(), int(ansi.size()), nullptr, &lossy));
  return lossy ? std::string() : ansi;
}

TEST_F(PluginTest, ANonAsciiFileNameOpensAndItsTitleReadsBackInTheAnsiCodePage) {
  const std::string name = TempDir() +
                           "/caf\xC3\xA9 \xC3\x9C"
                           "ber.wav";  // UTF-8, as the file system has it
  const std::string title =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xC3\xA0 Z\xC3\xBCrich";
  ASSERT_TRUE(::Run("ffmpeg -v error -y -f lavfi -i 'sine=d=0.5' -metadata title='" + title + "' -c:a pcm_s16le '" +
                    name + "'"));
  const std::string ansi_name = Ansi(name), ansi_title = Ansi(title);
  if (ansi_name.empty() || ansi_title.empty()) GTEST_SKIP() << "code page " << GetACP() << " lacks these letters";
  ASSERT_NE(ansi_title, title) << "the code page is UTF-8: nothing to convert";
  StartPlayer();
  ASSERT_TRUE(plugin.Create(ansi_name));
  EXPECT_EQ(plugin.Tag("%TITL"), ansi_title);
  EXPECT_TRUE(MessageBoxes().empty());
}

}  // namespace
