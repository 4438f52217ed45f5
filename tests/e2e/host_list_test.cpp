// The reference host playing a list through one open output: what a wav:
// output holds after a session of several files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/wav.hpp"
#include "media.hpp"

namespace {

// A tone on one channel only (0 left, 1 right), the other silent.
bool Tone(const std::string& path, int freq, double seconds, int channel) {
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i sine=frequency=" + std::to_string(freq) +
                          ":duration=" + std::to_string(seconds) + ":sample_rate=44100 -af 'pan=stereo|c" +
                          std::to_string(channel) + "=c0' " + path;
  return std::system(cmd.c_str()) == 0;
}

// Frequency of a channel over [from, to) frames, from its zero crossings.
double Frequency(const testwav::Wav& w, int ch, size_t from, size_t to) {
  size_t crossings = 0;
  for (size_t f = from + 1; f < to; ++f) crossings += (w.at(f - 1, ch) < 0) != (w.at(f, ch) < 0);
  return crossings / 2.0 * w.rate / static_cast<double>(to - from);
}

}  // namespace

// Two files named by a list in a list (relative entries): the session's WAV
// holds the first tone, then the second, each whole, with no silence between
// them beyond the start of the second file's fade-in.
TEST(HostList, PlaysAListThroughOneOutputWithoutAGap) {
  tovarin::test::TempDir folder;
  const std::string& dir = folder.path();
  ASSERT_TRUE(Tone(dir + "/a.wav", 440, 1.5, 0));
  ASSERT_TRUE(Tone(dir + "/b.wav", 880, 1.5, 1));
  std::filesystem::create_directory(dir + "/more");
  std::ofstream(dir + "/more/inner.pls") << "[playlist]\nNumberOfEntries=1\nFile1=../b.wav\n";
  std::ofstream(dir + "/list.m3u") << "#EXTM3U\n#EXTINF:2,First\na.wav\nmore/inner.pls\n";
  const std::string session = dir + "/session.wav";
  const std::string cmd = "TOVARIN_AUDIO_OUTPUT=wav:" + session + " timeout 60 " TOVARIN_HOST_PATH " play " + dir +
                          "/list.m3u </dev/null >" + dir + "/out.txt 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);

  const testwav::Wav w = testwav::read(session);
  ASSERT_TRUE(w.valid);
  ASSERT_EQ(w.rate, 44100);
  // Sound is anything above the output's rounding (the fade-in's second step
  // gives the tone at 2 %); the first file sounds on the left, the second on
  // the right.
  std::vector<size_t> sound[2];
  for (size_t f = 0; f < w.frames(); ++f)
    for (int ch : {0, 1})
      if (std::abs(w.at(f, ch)) > 40) sound[ch].push_back(f);
  ASSERT_GT(sound[0].size(), 44100u);
  ASSERT_GT(sound[1].size(), 44100u);
  const size_t a_end = sound[0].back(), b_start = sound[1].front();
  // In order, and no more silence between them than the fade-in's first
  // 20 ms: the first file's end shows in the block that holds its last
  // frame, and the second starts in the next one when the host is quick (a
  // block later on a busy machine).
  ASSERT_GT(b_start, a_end);
  EXPECT_LE(b_start - a_end, 44100u * 20 / 1000) << "silence between the files, frames";
  for (int ch : {0, 1}) {
    SCOPED_TRACE(ch == 0 ? "first file" : "second file");
    const std::vector<size_t>& s = sound[ch];
    // Each whole, at its pitch, with no dropout once its fade-in is past
    // (the tone stays below the threshold for a few frames at each zero).
    EXPECT_NEAR(static_cast<double>(s.back() - s.front()), 1.5 * 44100, 0.03 * 44100);
    EXPECT_NEAR(Frequency(w, ch, s.front() + 4410, s.back() - 4410), ch == 0 ? 440.0 : 880.0, ch == 0 ? 4.4 : 8.8);
    size_t longest = 0;
    for (size_t k = 1; k < s.size(); ++k)
      if (s[k] > s.front() + 4410) longest = std::max(longest, s[k] - s[k - 1]);
    EXPECT_LE(longest, 44u) << "a dropout inside the file, frames";
  }
}
