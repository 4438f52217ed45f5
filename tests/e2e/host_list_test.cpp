// The reference host playing a list through one open output: what a wav:
// output holds after a session of several files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/wav.hpp"
#include "media.hpp"

namespace {

bool Tone(const std::string& path, int freq, double seconds) {
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i sine=frequency=" + std::to_string(freq) +
                          ":duration=" + std::to_string(seconds) + ":sample_rate=44100 -ac 2 " + path;
  return std::system(cmd.c_str()) == 0;
}

// Frequency of the left channel over [from, to) frames, from its zero crossings.
double Frequency(const testwav::Wav& w, size_t from, size_t to) {
  size_t crossings = 0;
  for (size_t f = from + 1; f < to; ++f) crossings += (w.at(f - 1, 0) < 0) != (w.at(f, 0) < 0);
  return crossings / 2.0 * w.rate / static_cast<double>(to - from);
}

}  // namespace

// Two files named by a list in a list (relative entries): the session's WAV
// holds the first tone, then the second, each whole, with no silence between
// them beyond the start of the second file's fade-in.
TEST(HostList, PlaysAListThroughOneOutputWithoutAGap) {
  tovarin::test::TempDir folder;
  const std::string& dir = folder.path();
  ASSERT_TRUE(Tone(dir + "/a.wav", 440, 1.5));
  ASSERT_TRUE(Tone(dir + "/b.wav", 880, 1.5));
  std::filesystem::create_directory(dir + "/more");
  std::ofstream(dir + "/more/inner.pls") << "[playlist]\nNumberOfEntries=1\nFile1=../b.wav\n";
  std::ofstream(dir + "/list.m3u") << "#EXTM3U\n#EXTINF:2,First\na.wav\nmore/inner.pls\n";
  const std::string session = dir + "/session.wav";
  const std::string cmd = "TOVARIN_AUDIO_OUTPUT=wav:" + session + " timeout 60 " TOVARIN_HOST_PATH " play " +
                          dir + "/list.m3u </dev/null >" + dir + "/out.txt 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);

  const testwav::Wav w = testwav::read(session);
  ASSERT_TRUE(w.valid);
  ASSERT_EQ(w.rate, 44100);
  // Sound is anything above the output's rounding (the fade-in's second step
  // gives the tone at 2 %).
  std::vector<size_t> sound;
  for (size_t f = 0; f < w.frames(); ++f)
    if (std::abs(w.at(f, 0)) > 40) sound.push_back(f);
  ASSERT_GT(sound.size(), 44100u * 2);
  size_t gap_at = 0, gap = 0;
  for (size_t k = 1; k < sound.size(); ++k)
    if (sound[k] - sound[k - 1] > gap) gap = sound[k] - sound[k - 1], gap_at = k;
  const size_t a_end = sound[gap_at - 1], b_start = sound[gap_at];
  // The fade-in's first 20 ms (step 1 is silent), and four 10 ms output
  // blocks for the host to see the first end and start the second on a
  // busy machine (about one block when idle).
  EXPECT_LE(gap, 44100u * 60 / 1000) << "silence between the files, frames";
  // Each whole, in order: 1.5 s of 440 Hz, then 1.5 s of 880 Hz.
  EXPECT_NEAR(static_cast<double>(a_end - sound.front()), 1.5 * 44100, 0.03 * 44100);
  EXPECT_NEAR(static_cast<double>(sound.back() - b_start), 1.5 * 44100, 0.03 * 44100);
  EXPECT_NEAR(Frequency(w, sound.front() + 4410, a_end - 4410), 440.0, 4.4);
  EXPECT_NEAR(Frequency(w, b_start + 4410, sound.back() - 4410), 880.0, 8.8);
}
