// Slots and stream queries through the exports, on the silent output.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/wav.hpp"
#include "host_fixture.hpp"

using PlayerTest = PluginTest;

namespace {
uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}
}  // namespace

TEST_F(PlayerTest, CreateOpensFilesAndAnswersZeroForWhatItCannotOpen) {
  StartPlayer();
  EXPECT_EQ(plugin.ChannelNum(1), 1);
  EXPECT_TRUE(plugin.Create(MakeWav("a.wav", 0.5, 44100, 2)));
  EXPECT_FALSE(plugin.Create(TempDir() + "/missing.wav"));
  // The slot was emptied before the failed open.
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "0");
  // "http:" and "https:" (exactly, anywhere) make a URL: a local file whose
  // path holds "https:" goes to the URL path and fails there, while one
  // under "HTTP:" (capitals) is opened as the file it is.
  EXPECT_FALSE(plugin.Create("https://127.0.0.1:1/x.mp3"));
  EXPECT_FALSE(plugin.Create("HTTP://127.0.0.1:1/x.mp3"));
#ifndef _WIN32  // a Windows folder name cannot hold ':'
  const std::string wav = MakeWav("b.wav", 0.5, 44100, 2);
  for (const char* dir : {"/https:", "/HTTP:"}) {
    ASSERT_EQ(mkdir((TempDir() + dir).c_str(), 0700), 0);
    ASSERT_EQ(link(wav.c_str(), (TempDir() + dir + "/b.wav").c_str()), 0);
  }
  EXPECT_FALSE(plugin.Create(TempDir() + "/https:/b.wav"));
  EXPECT_TRUE(plugin.Create(TempDir() + "/HTTP:/b.wav"));
#endif
  plugin.SetFile("");
  EXPECT_EQ(plugin.Bass_Create(), 0);  // an empty path
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(PlayerTest, SlotsOutsideTheRangeAreStoredButTouchNothing) {
  StartPlayer();
  const std::string wav = MakeWav("slot.wav", 1.0, 22050, 1);
  ASSERT_TRUE(plugin.Create(wav));
  for (int32_t bad : {0, -1, 33}) {
    EXPECT_EQ(plugin.ChannelNum(bad), bad);
    EXPECT_FALSE(plugin.Create(wav));
    EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "0");
    EXPECT_EQ(plugin.Query(plugin.Bass_GetPosition), "0");
    EXPECT_EQ(plugin.Query(plugin.Bass_GetLength), "0");
    EXPECT_EQ(plugin.Query(plugin.Bass_GetBit), "0");
    EXPECT_EQ(plugin.Query(plugin.Bass_GetChannels), "");
    EXPECT_EQ(plugin.Tag("%TITL"), "");
    EXPECT_EQ(plugin.Query(plugin.Bass_GetLLevel), "0");
  }
  plugin.ChannelNum(1);
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "22050");
  // Bass_Free on a bad slot still releases the library: slot 1 goes stale.
  plugin.ChannelNum(33);
  plugin.Bass_Free();
  plugin.ChannelNum(1);
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "0");
  // A new Bass_Init opens it again, and the slot can be filled anew.
  plugin.Bass_Init();
  EXPECT_TRUE(plugin.Create(wav));
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "22050");
}

TEST_F(PlayerTest, FormatQueriesDescribeTheStream) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("stereo.wav", 1.0, 48000, 2)));
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "48000");
  EXPECT_EQ(plugin.Query(plugin.Bass_GetChannels), "Stereo");
  plugin.ChannelNum(2);
  ASSERT_TRUE(plugin.Create(MakeWav("mono.wav", 1.0, 8000, 1)));
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "8000");
  EXPECT_EQ(plugin.Query(plugin.Bass_GetChannels), "Mono");
  plugin.ChannelNum(3);
  ASSERT_TRUE(plugin.Create(MakeWav("six.wav", 0.5, 44100, 6)));
  EXPECT_EQ(plugin.Query(plugin.Bass_GetChannels), "6 channels");
  plugin.ChannelNum(4);  // never filled
  EXPECT_EQ(plugin.Query(plugin.Bass_GetChannels), "");
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "0");
}

TEST_F(PlayerTest, LengthRoundsHalvesToEven) {
  StartPlayer();
  for (const auto& [name, seconds, length] :
       {std::tuple{"l25.wav", 2.5, "2"}, {"l35.wav", 3.5, "4"}, {"l26.wav", 2.6, "3"}}) {
    ASSERT_TRUE(plugin.Create(MakeWav(name, seconds, 8000, 1)));
    EXPECT_EQ(plugin.Query(plugin.Bass_GetLength), length) << name;
  }
  EXPECT_EQ(plugin.Query(plugin.Bass_GetPosition), "0");
}

TEST_F(PlayerTest, BitrateIsFileSizeOverDurationRoundedUp) {
  StartPlayer();
  // Files of known size: 44 bytes of header and the samples.
  struct Case {
    uint32_t rate;
    uint16_t channels;
    uint32_t frames;
    const char* kbit;
  } cases[] = {
      {8000, 1, 16000, "129"},    // 32044 bytes in 2 s: 128.18 kbit/s
      {44100, 2, 44100, "1412"},  // 176444 bytes in 1 s: 1411.55
      {8000, 1, 2000, "130"},     // 4044 bytes in 0.25 s: 129.41
      {8000, 1, 0, "0"},          // no sound: refused, and the emptied slot has no rate
  };
  for (const auto& c : cases) {
    const std::string path = TempDir() + "/bit" + c.kbit + ".wav";
    ASSERT_TRUE(testwav::write(path, c.rate, c.channels, std::vector<int16_t>(size_t{c.frames} * c.channels, 0)));
    ASSERT_EQ(FileSize(path), 44u + 2u * c.frames * c.channels);
    ASSERT_EQ(plugin.Create(path), c.frames > 0) << c.kbit;
    EXPECT_EQ(plugin.Query(plugin.Bass_GetBit), c.kbit);
  }
  // Past 4 GiB the whole size counts (cut to 32 bits it answered 283): a
  // sparse RF64 file of 5 GiB of silence, 80 bytes of header.
  const uint64_t data = 5ull << 30;
  std::string header = std::string("RF64\xff\xff\xff\xffWAVEds64\x1c\0\0\0", 20);
  const auto put = [&](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) header += static_cast<char>(v >> (8 * i));
  };
  put(data + 72, 8), put(data, 8), put(data / 4, 8), put(0, 4);
  header += std::string("fmt \x10\0\0\0", 8);
  put(1, 2), put(2, 2), put(44100, 4), put(176400, 4), put(4, 2), put(16, 2);
  header += std::string("data\xff\xff\xff\xff", 8);
  ASSERT_EQ(header.size(), 80u);
  const std::string big = TempDir() + "/big.wav";
  std::ofstream(big, std::ios::binary) << header;
  std::filesystem::resize_file(big, 80 + data);
  ASSERT_TRUE(plugin.Create(big));
  EXPECT_EQ(plugin.Query(plugin.Bass_GetLength), "30435");
  EXPECT_EQ(plugin.Query(plugin.Bass_GetBit), "1412");  // 1411.2 kbit/s, rounded up
}

TEST_F(PlayerTest, SeekingMovesThePosition) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("seek.wav", 10.0, 8000, 1)));
  plugin.SetData(7);
  plugin.Bass_SetPosition();
  EXPECT_EQ(plugin.Query(plugin.Bass_GetPosition), "7");
  plugin.SetData(3);
  plugin.Bass_SetPosition();
  EXPECT_EQ(plugin.Query(plugin.Bass_GetPosition), "3");
  plugin.SetData(60);  // past the end: the library refuses, quietly
  plugin.Bass_SetPosition();
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(PlayerTest, TagsAnswerOnlyTheSevenExactKeys) {
  StartPlayer();
  const std::string src = MakeWav("plain.wav", 1.0, 44100, 2);
  const std::string tagged = TempDir() + "/tagged.flac";
  ASSERT_TRUE(::Run("ffmpeg -v error -y -i " + src +
                    " -metadata title='Der Titel' -metadata artist='Die Band' -metadata album=LP"
                    " -metadata genre=Test -metadata date=1999 -metadata track=3 -metadata comment=hi " +
                    tagged));
  ASSERT_TRUE(plugin.Create(tagged));
  EXPECT_EQ(plugin.Tag("%TITL"), "Der Titel");
  EXPECT_EQ(plugin.Tag("%ARTI"), "Die Band");
  EXPECT_EQ(plugin.Tag("%ALBM"), "LP");
  EXPECT_EQ(plugin.Tag("%GNRE"), "Test");
  EXPECT_EQ(plugin.Tag("%YEAR"), "1999");
  EXPECT_EQ(plugin.Tag("%CMNT"), "hi");
  EXPECT_EQ(plugin.Tag("%TRCK").substr(0, 1), "3");
  for (const char* key : {"%titl", "", "%TITL%ARTI", "%TITL ", "TITL", "%TITLE"}) EXPECT_EQ(plugin.Tag(key), "") << key;
}

TEST_F(PlayerTest, SetVolumeOnAnEmptySlotStillStoresTheVolume) {
  StartPlayer();
  plugin.ChannelNum(5);  // empty
  plugin.SetVolume(0);
  plugin.ChannelNum(1);
  ASSERT_TRUE(plugin.Create(MakeWav("quiet.wav", 3.0, 44100, 2)));
  plugin.ChannelNum(5);
  plugin.Bass_Play();  // Volume 0: the fade has no steps, nothing starts
  plugin.ChannelNum(1);
  plugin.Bass_Play();
  ASSERT_TRUE(PumpUntil([] { return FadeThreads() == 0; }, 30000));
  tovui_pump(0);
  EXPECT_EQ(plugin.Position(), 0);
  EXPECT_TRUE(FadeSteps().empty());
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(PlayerTest, SecondBassInitWithoutFreeKeepsTheHostRunning) {
  StartPlayer();
  plugin.ChannelNum(4);
  plugin.Bass_Init();  // refused by the library as already initialised
  EXPECT_EQ(plugin.ChannelNum(1), 1);
  EXPECT_TRUE(plugin.Create(MakeWav("again.wav", 0.5, 44100, 2)));
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(PlayerTest, LevelsDoNotAskTheLibraryWhileStopped) {
  StartPlayer();
  // Sines of amplitude 0.5 on the left, 0.25 on the right: they peak
  // near 16384 and 8192 once the fade is over. As hosts know it,
  // Bass_GetRLevel answers the library's low word, the left level, and
  // Bass_GetLLevel the high word, the right one.
  const std::string loud = MakeWav("loud.wav", 20.0, 44100, 2, 440.0, true);
  plugin.ChannelNum(2);
  ASSERT_TRUE(plugin.Create(loud));
  plugin.Bass_Play();
  auto level = [&](void (*op)()) { return std::atoi(plugin.Query(op).c_str()); };
  EXPECT_TRUE(
      PumpUntil([&] { return level(plugin.Bass_GetRLevel) > 15500 && level(plugin.Bass_GetLLevel) > 7750; }, 30000));
  EXPECT_LE(level(plugin.Bass_GetRLevel), 16500);
  EXPECT_LE(level(plugin.Bass_GetLLevel), 8300);
  ASSERT_TRUE(PumpUntil([&] { return plugin.Position() >= 1; }, 30000));

  // A stop on another slot sets the player-wide flag; slot 2 plays on, but
  // its levels now answer 0 without the library being asked.
  plugin.ChannelNum(1);
  ASSERT_TRUE(plugin.Create(MakeWav("other.wav", 20.0, 44100, 2)));
  plugin.SetVolume(1);  // a one-step fade
  plugin.Bass_Stop();
  ASSERT_TRUE(PumpUntil([] { return FadeThreads() == 0; }, 30000));
  tovui_pump(0);
  plugin.ChannelNum(2);
  EXPECT_GT(plugin.Position(), 0);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(plugin.Query(plugin.Bass_GetLLevel), "0");
    EXPECT_EQ(plugin.Query(plugin.Bass_GetRLevel), "0");
    PumpFor(20);
  }
}

TEST_F(PlayerTest, SeekingPastFourGigabytesOfSamplesLandsWhereAsked) {
  // 8-bit, 8 channels at 8000 Hz, 3 GiB of (sparse) data: 50331.6 s, whose
  // 16-bit byte positions pass 2^32 after 33554 s.
  const std::string path = TempDir() + "/long.wav";
  const uint32_t data = 3u << 30;
  std::ofstream(path, std::ios::binary) << testwav::header(8000, 8, 8, data);
  ASSERT_EQ(truncate(path.c_str(), 44 + static_cast<off_t>(data)), 0);
  StartPlayer();
  ASSERT_TRUE(plugin.Create(path));
  EXPECT_EQ(plugin.Query(plugin.Bass_GetLength), "50332");
  plugin.SetData(45000);
  plugin.Bass_SetPosition();
  EXPECT_EQ(plugin.Query(plugin.Bass_GetPosition), "45000");
  std::remove(path.c_str());
}
