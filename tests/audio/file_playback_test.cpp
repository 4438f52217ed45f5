// Real files, made by sox at test time, played through the library onto the
// wav: output and compared with the files' own samples.
#include <algorithm>
#include <chrono>
#include <thread>

#include "test_support.hpp"

using namespace audio_test;

namespace {
class FilePlayback : public LibraryTest {
 protected:
  // Runs "sox <before> <path> <after>" to make the file path_.name.
  std::string sox(const std::string& name, const std::string& before, const std::string& after) {
    std::string path = path_ + "." + name;
    std::string cmd = "sox " + before + " " + path + " " + after + " 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "sox failed: " << cmd;
    return path;
  }
  std::string media(const std::string& name, const std::string& format, const std::string& effects) {
    return sox(name, "-n " + format, effects);
  }
  // `in` as sox converts it (sox_args), read back.
  Wav reference(const std::string& in, const std::string& name, const std::string& sox_args) {
    return read_wav(sox(name, in + " " + sox_args, ""));
  }
  // The decoder fills its ring (2 s) on its own thread; these files are 1 s
  // at most, so after a generous wait every block finds its frames ready.
  static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(400)); }
  // Plays h for `blocks` blocks once its ring is full; what the output wrote.
  Wav play_settled(HSTREAM h, long blocks) {
    EXPECT_TRUE(BASS_ChannelPlay(h, 0));
    settle();
    run_blocks(blocks);
    return finish();
  }
};
}  // namespace

TEST_F(FilePlayback, WavAt44100ComesOutBitExact) {
  std::string file = media("wav", "-r 44100 -c 2 -b 16 -e signed", "synth 0.5 whitenoise vol 0.7");
  Wav src = read_wav(file);
  ASSERT_TRUE(src.valid);
  ASSERT_EQ(src.frames(), 22050u);
  HSTREAM h = BASS_StreamCreateFile(0, file.c_str(), 0, 0, 0);
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  EXPECT_EQ(BASS_ChannelGetLength(h, BASS_POS_BYTE), 22050u * 4);
  ASSERT_TRUE(BASS_ChannelPlay(h, 0));
  settle();
  run_blocks(60);
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  Wav out = finish();
  ASSERT_TRUE(out.valid);
  size_t mismatches = 0;
  for (size_t i = 0; i < src.samples.size(); ++i) mismatches += out.samples[i] != src.samples[i];
  EXPECT_EQ(mismatches, 0u);
}

TEST_F(FilePlayback, SeekInAFileLandsOnItsOwnSample) {
  const size_t target = 30011;
  std::string file = media("flac", "-r 44100 -c 2 -b 16", "synth 1 whitenoise vol 0.5");
  Wav ref = reference(file, "ref.wav", "-b 16");
  ASSERT_TRUE(ref.valid);
  HSTREAM h = BASS_StreamCreateFile(0, file.c_str(), 0, 0, 0);
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  ASSERT_TRUE(BASS_ChannelSetPosition(h, target * 4, BASS_POS_BYTE));
  Wav out = play_settled(h, 2);
  ASSERT_TRUE(out.valid);
  for (size_t f = 0; f < 882; ++f)
    for (int c = 0; c < 2; ++c) ASSERT_EQ(out.at(f, c), ref.at(target + f, c)) << f;
}

// A 48 kHz file against sox's own resampling of it.
TEST_F(FilePlayback, FlacAt48000MatchesSoxResamplingByCorrelation) {
  std::string file = media("48.flac", "-r 48000 -c 2 -b 16", "synth 1 sine 997 sine 3001 vol 0.4");
  Wav ref = reference(file, "ref44.wav", "-b 16 -r 44100");
  ASSERT_TRUE(ref.valid);
  HSTREAM h = BASS_StreamCreateFile(0, file.c_str(), 0, 0, 0);
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  BASS_CHANNELINFO info;
  ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
  EXPECT_EQ(info.freq, 48000u);
  Wav out = play_settled(h, 105);
  ASSERT_TRUE(out.valid);
  double best = -1;
  for (int lag = -32; lag < 64; ++lag) {
    double sxy = 0, sxx = 0, syy = 0;
    for (int f = 2000; f < 42000; ++f)
      for (int c = 0; c < 2; ++c) {
        double x = out.at(f + lag, c), y = ref.at(f, c);
        sxy += x * y, sxx += x * x, syy += y * y;
      }
    best = std::max(best, sxy / std::sqrt(sxx * syy));
  }
  EXPECT_GT(best, 0.9999);
}

namespace {
// Ten equalizer bands at +6 dB and the five effects with their defaults.
void attach_full_chain(HSTREAM h) {
  const float centres[10] = {80, 170, 310, 600, 1000, 3000, 6000, 12000, 14000, 16000};
  for (int band = 0; band < 10; ++band) {
    HFX fx = BASS_ChannelSetFX(h, BASS_FX_DX8_PARAMEQ, band + 1);
    BASS_DX8_PARAMEQ p{centres[band], 12, 6};
    ASSERT_TRUE(BASS_FXSetParameters(fx, &p));
  }
  for (DWORD t :
       {BASS_FX_DX8_FLANGER, BASS_FX_DX8_CHORUS, BASS_FX_DX8_REVERB, BASS_FX_DX8_ECHO, BASS_FX_DX8_COMPRESSOR})
    ASSERT_NE(BASS_ChannelSetFX(h, t, 1), 0u);
}
}  // namespace

// A decoding stream hands out what playing the same file with the same
// effects writes to the wav: output, sample for sample, and then ends.
TEST_F(FilePlayback, DecodingStreamGivesWhatPlayingWrites) {
  std::string file = media("dec.wav", "-r 44100 -c 2 -b 16 -e signed", "synth 0.5 pinknoise vol 0.5");
  HSTREAM played = BASS_StreamCreateFile(0, file.c_str(), 0, 0, 0);
  HSTREAM pulled = BASS_StreamCreateFile(0, file.c_str(), 0, 0, BASS_STREAM_DECODE);
  ASSERT_NE(pulled, 0u) << BASS_ErrorGetCode();
  attach_full_chain(played);
  attach_full_chain(pulled);
  EXPECT_FALSE(BASS_ChannelPlay(pulled, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DECODE);
  uint8_t small[16];
  EXPECT_EQ(BASS_ChannelGetData(pulled, small, 0x80000003), DWORD(-1));  // another FFT size: not a byte count
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  std::vector<int16_t> data(22050 * 2 + 4096);
  DWORD got = 0;
  for (int calls = 0; calls < 100; ++calls) {  // an odd size: whole frames only
    DWORD n = BASS_ChannelGetData(pulled, reinterpret_cast<uint8_t*>(data.data()) + got, 4003);
    if (n == DWORD(-1)) break;
    ASSERT_EQ(n % 4, 0u);
    got += n;
    if (got == 4000 * 4) {
      EXPECT_EQ(BASS_ChannelGetPosition(pulled, BASS_POS_BYTE), 4000u * 4);
    }
  }
  EXPECT_EQ(got, 22050u * 4);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
  EXPECT_EQ(BASS_ChannelIsActive(pulled), BASS_ACTIVE_STOPPED);
  // Without effects (whose memory a seek clears), back to frame 1000 as
  // floats: the same samples again.
  HSTREAM bare = BASS_StreamCreateFile(0, file.c_str(), 0, 0, BASS_STREAM_DECODE);
  std::vector<float> first(3048 * 2), again(2048 * 2);
  const DWORD bytes = static_cast<DWORD>(first.size() * sizeof(float));
  ASSERT_EQ(BASS_ChannelGetData(bare, first.data(), bytes | BASS_DATA_FLOAT), bytes);
  ASSERT_TRUE(BASS_ChannelSetPosition(bare, 1000 * 4, BASS_POS_BYTE));
  ASSERT_EQ(BASS_ChannelGetData(bare, again.data(), DWORD(again.size() * sizeof(float)) | BASS_DATA_FLOAT),
            again.size() * sizeof(float));
  EXPECT_TRUE(std::equal(again.begin(), again.end(), first.begin() + 2000));
  Wav out = play_settled(played, 60);
  ASSERT_TRUE(out.valid);
  size_t mismatches = 0;
  for (size_t i = 0; i < 22050 * 2; ++i) mismatches += out.samples[i] != data[i];
  EXPECT_EQ(mismatches, 0u);
}

TEST_F(FilePlayback, FilesThatCannotPlayAreRefused) {
  EXPECT_EQ(BASS_StreamCreateFile(0, (path_ + ".missing.wav").c_str(), 0, 0, 0), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
  EXPECT_EQ(BASS_StreamCreateFile(0, "/tmp", 0, 0, 0), 0u);
  EXPECT_EQ(BASS_StreamCreateFile(0, nullptr, 0, 0, 0), 0u);
  EXPECT_EQ(BASS_StreamCreateFile(1, "x", 0, 0, 0), 0u);
}
