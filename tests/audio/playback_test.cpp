// What the wav: output receives when the library plays synthetic sources.
#include <chrono>
#include <thread>

#include "test_support.hpp"

using namespace audio_test;

using Playback = LibraryTest;

namespace {
// The wav: output's header as another reader (sox) sees it, field by field:
// 16-bit stereo at `rate`, holding `frames`.
void ExpectStereoHeader(const std::string& path, long rate, long frames) {
  const testwav::SoxFields head = testwav::sox_fields(path);
  EXPECT_EQ(head.channels, 2);
  EXPECT_EQ(head.rate, rate);
  EXPECT_EQ(head.byte_rate, rate * 4);
  EXPECT_EQ(head.block_align, 4);
  EXPECT_EQ(head.bits, 16);
  EXPECT_EQ(head.data_bytes, frames * 4);
}
}  // namespace

TEST_F(Playback, SameRateStereoComesOutBitExact) {
  const int64_t len = 44100 / 2;
  HSTREAM h = make_stream(44100, 2, len, noise16);
  ASSERT_NE(h, 0u);
  play(h, 60);  // 0.6 s: the whole source and some silence after it
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), static_cast<QWORD>(len * 4));
  Wav w = finish();
  ASSERT_TRUE(w.valid);
  ASSERT_EQ(w.rate, 44100);
  ASSERT_EQ(w.channels, 2);
  ASSERT_EQ(w.bits, 16);
  ASSERT_EQ(w.frames(), 60u * 441);
  ExpectStereoHeader(path_, 44100, 60 * 441);
  size_t mismatches = 0;
  for (int64_t f = 0; f < len; ++f)
    for (int c = 0; c < 2; ++c) mismatches += w.at(f, c) != std::lrint(noise16(f, c) * 32768);
  EXPECT_EQ(mismatches, 0u);
  for (size_t f = len; f < w.frames(); ++f) ASSERT_EQ(w.at(f, 0) | w.at(f, 1), 0) << "after the end at " << f;
}

TEST_F(Playback, MonoIsDoubledToBothSides) {
  HSTREAM h = make_stream(44100, 1, 4410, noise16);
  play(h, 10);
  // Its last frame was in the tenth block: it ended there, not a block later.
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  Wav w = finish();
  ASSERT_TRUE(w.valid);
  for (int64_t f = 0; f < 4410; ++f) {
    ASSERT_EQ(w.at(f, 0), std::lrint(noise16(f, 0) * 32768)) << f;
    ASSERT_EQ(w.at(f, 1), w.at(f, 0)) << f;
  }
}

// A 48 kHz sine comes out as the same sine at 44.1 kHz (closed form as the
// oracle; the resampler may delay it by a few samples).
TEST_F(Playback, OtherRateIsResampledFaithfully) {
  const double hz = 997, amp = 0.5;
  HSTREAM h =
      make_stream(48000, 2, 48000, [&](int64_t f, int) { return float(amp * std::sin(2 * M_PI * hz * f / 48000)); });
  play(h, 105);
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  Wav w = finish();
  ASSERT_TRUE(w.valid);
  // Count what came out: one second at the new rate, within the filter's tail.
  size_t last = 0;
  for (size_t f = 0; f < w.frames(); ++f)
    if (w.at(f, 0)) last = f;
  EXPECT_NEAR(double(last), 44100.0, 64);
  double best = -1;
  int best_lag = 0;
  for (int lag = 0; lag < 64; ++lag) {
    double sxy = 0, sxx = 0, syy = 0;
    for (int f = 1000; f < 43000; ++f) {
      double x = w.at(f + lag, 0) / 32768.0, y = amp * std::sin(2 * M_PI * hz * f / 44100);
      sxy += x * y, sxx += x * x, syy += y * y;
    }
    double r = sxy / std::sqrt(sxx * syy);
    if (r > best) best = r, best_lag = lag;
  }
  EXPECT_GT(best, 0.9999) << "lag " << best_lag;
  int16_t peak = 0;
  for (int f = 1000; f < 43000; ++f) peak = std::max<int16_t>(peak, w.at(f, 1));
  EXPECT_NEAR(peak / 32768.0, amp, 0.005);
}

// Balance law: pan p scales the left by min(1, 1 - p) and the right by
// min(1, 1 + p); volume scales both.
TEST_F(Playback, VolumeAndPanScaleAsDocumented) {
  struct Case {
    float vol, pan, left, right;
  } cases[] = {{0.5f, 0.f, 0.5f, 0.5f}, {1.f, -1.f, 1.f, 0.f}, {1.f, 0.5f, 0.5f, 1.f}, {2.f, -0.25f, 2.f, 1.5f}};
  const float a = 0.25f;  // 2x stays below full scale
  std::vector<HSTREAM> hs;
  for (auto& c : cases) {
    HSTREAM h = make_stream(44100, 2, 44100, [&](int64_t f, int) { return a * float(f % 100 < 50 ? 1 : -1); });
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, c.vol));
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_PAN, c.pan));
    float v = 0;
    ASSERT_TRUE(BASS_ChannelGetAttribute(h, BASS_ATTRIB_VOL, &v));
    EXPECT_EQ(v, c.vol);
    hs.push_back(h);
  }
  // One at a time, 100 ms each.
  for (HSTREAM h : hs) {
    play(h, 10);
    ASSERT_TRUE(BASS_ChannelStop(h));
  }
  Wav w = finish();
  ASSERT_TRUE(w.valid);
  for (size_t i = 0; i < hs.size(); ++i) {
    size_t f = i * 4410 + 10;  // a frame of the positive half wave
    EXPECT_NEAR(w.at(f, 0) / 32768.0, a * cases[i].left, 1e-4) << i;
    EXPECT_NEAR(w.at(f, 1) / 32768.0, a * cases[i].right, 1e-4) << i;
  }
  EXPECT_FALSE(BASS_ChannelSetAttribute(hs[0], BASS_ATTRIB_VOL, -0.1f));
}

// Each side ramps its own input: left +0.5, right -0.25.
TEST_F(Playback, VolumeChangesAreRampedNotStepped) {
  HSTREAM h = make_stream(44100, 2, -1, [](int64_t, int c) { return c ? -0.25f : 0.5f; });
  play(h, 2);
  ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.f));
  run_blocks(3);
  Wav w = finish();
  ASSERT_TRUE(w.valid);
  int max_step = 0, zero_at = -1;
  for (size_t f = 1; f < w.frames(); ++f) {
    ASSERT_GE(w.at(f, 0), 0) << f;
    ASSERT_LE(w.at(f, 1), 0) << f;
    ASSERT_NEAR(w.at(f, 1), -w.at(f, 0) / 2, 1) << f;
    max_step = std::max(max_step, std::abs(w.at(f, 0) - w.at(f - 1, 0)));
    if (zero_at < 0 && w.at(f, 0) == 0) zero_at = int(f);
  }
  EXPECT_LT(max_step, 200);  // 16384 spread over 5 ms = ~75 a frame
  EXPECT_GE(zero_at, 882 + 200);
  EXPECT_LE(zero_at, 882 + 230);
}

TEST_F(Playback, PauseKeepsThePositionAndPlayResumes) {
  HSTREAM h = make_stream(44100, 2, 44100, noise16);
  play(h, 5);
  ASSERT_TRUE(BASS_ChannelPause(h));
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PAUSED);
  QWORD pos = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
  EXPECT_EQ(pos, 5u * 441 * 4);
  run_blocks(5);
  EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), pos);
  EXPECT_EQ(BASS_ChannelGetLevel(h), 0u);
  play(h, 5);
  Wav w = finish();
  ASSERT_TRUE(w.valid);
  // Frames 0..2204 heard, then 50 ms of silence, then 2205.. onwards.
  for (int f = 0; f < 2205; ++f) ASSERT_EQ(w.at(f, 0), std::lrint(noise16(f, 0) * 32768)) << f;
  for (int f = 2205; f < 4410; ++f) ASSERT_EQ(w.at(f, 0), 0) << f;
  for (int f = 0; f < 2205; ++f) ASSERT_EQ(w.at(4410 + f, 1), std::lrint(noise16(2205 + f, 1) * 32768)) << f;
}

TEST_F(Playback, StopKeepsThePositionRestartBeginsAgain) {
  HSTREAM h = make_stream(44100, 2, 44100, noise16);
  play(h, 3);
  ASSERT_TRUE(BASS_ChannelStop(h));
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), 3u * 441 * 4);
  EXPECT_FALSE(BASS_ChannelPause(h));  // nothing plays
  ASSERT_TRUE(BASS_ChannelPlay(h, 1));
  EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), 0u);
  run_blocks(1);
  Wav w = finish();
  for (int f = 0; f < 441; ++f) ASSERT_EQ(w.at(3 * 441 + f, 0), std::lrint(noise16(f, 0) * 32768)) << f;
}

TEST_F(Playback, SetPositionLandsOnTheExactFrame) {
  HSTREAM h = make_stream(44100, 2, 44100, noise16);
  const int64_t target = 12345;
  ASSERT_TRUE(BASS_ChannelSetPosition(h, target * 4 + 3, BASS_POS_BYTE));  // inside a frame: that frame
  EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), QWORD(target * 4));
  play(h, 1);
  EXPECT_FALSE(BASS_ChannelSetPosition(h, 44101 * 4, BASS_POS_BYTE));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
  Wav w = finish();
  for (int f = 0; f < 441; ++f) ASSERT_EQ(w.at(f, 1), std::lrint(noise16(target + f, 1) * 32768)) << f;
}

// Resampled streams of several lengths, mono and stereo: once a stream has
// ended its position is its length, whatever the resampler's rounding.
TEST_F(Playback, AResampledStreamEndsAtItsLength) {
  for (int64_t len : {4800, 4805, 4817, 4830, 9601}) {
    for (int chans : {1, 2}) {
      HSTREAM h = make_stream(48000, chans, len, noise16);
      play(h, len / 441 + 10);
      ASSERT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED) << len;
      const QWORD length = BASS_ChannelGetLength(h, BASS_POS_BYTE);
      EXPECT_EQ(length, QWORD(len * chans * 2));
      EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), length) << len << " frames, " << chans << " channels";
      ASSERT_TRUE(BASS_StreamFree(h));
    }
  }
}

TEST_F(Playback, ThirtyTwoStreamsPlayTogetherAndSum) {
  std::vector<HSTREAM> hs;
  for (int i = 0; i < 32; ++i) {
    HSTREAM h = make_stream(i % 2 ? 48000 : 44100, 1 + i % 2, -1, [i](int64_t, int) { return (i + 1) / 32768.f; });
    ASSERT_NE(h, 0u) << i;
    hs.push_back(h);
  }
  for (HSTREAM h : hs) ASSERT_TRUE(BASS_ChannelPlay(h, 0));
  run_blocks(10);
  for (HSTREAM h : hs) EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
  // Free everything while it plays: every handle goes stale, harmlessly.
  ASSERT_TRUE(BASS_Free());
  for (HSTREAM h : hs) {
    EXPECT_FALSE(BASS_ChannelPlay(h, 0));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_FALSE(BASS_ChannelStop(h));
    EXPECT_FALSE(BASS_StreamFree(h));
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), QWORD(-1));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  }
  Wav w = read_wav(path_);
  ASSERT_TRUE(w.valid);
  // The sum of 1..32 (x 1/32768), after the resamplers have settled.
  EXPECT_EQ(w.at(4000, 0), 528);
  EXPECT_EQ(w.at(4000, 1), 528);
}

TEST_F(Playback, AutofreeStreamIsFreedWhenItEnds) {
  HSTREAM h = make_stream(44100, 2, 441, noise16, BASS_STREAM_AUTOFREE);
  HSTREAM keep = make_stream(44100, 2, 441, noise16);
  ASSERT_TRUE(BASS_ChannelPlay(h, 0));
  play(keep, 2);
  bool gone = false;
  for (int i = 0; i < 100 && !gone; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gone = BASS_ChannelGetLength(h, BASS_POS_BYTE) == QWORD(-1);
  }
  EXPECT_TRUE(gone);
  EXPECT_EQ(BASS_ChannelGetLength(keep, BASS_POS_BYTE), 441u * 4);  // ended, kept
}

TEST_F(Playback, StoppingAnAutofreeStreamFreesIt) {
  HSTREAM h = make_stream(44100, 2, -1, noise16, BASS_STREAM_AUTOFREE);
  play(h, 1);
  ASSERT_TRUE(BASS_ChannelStop(h));
  EXPECT_FALSE(BASS_ChannelPlay(h, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

// The wav: output writes at the rate the library was started with: its
// header (read by sox) and its samples, unresampled.
TEST(WavOutput, FollowsTheRateOfBassInit) {
  const std::string path = temp_file("48k.wav");
  setenv("TOVARIN_AUDIO_OUTPUT", ("wav:" + path).c_str(), 1);
  tovarin::audio::testing_set_manual_pacing(true);
  ASSERT_TRUE(BASS_Init(-1, 48000, 0, 0, nullptr));
  HSTREAM h = make_stream(48000, 2, 4800, noise16);
  ASSERT_TRUE(BASS_ChannelPlay(h, 0));
  ASSERT_TRUE(tovarin::audio::testing_run_blocks(10));
  ASSERT_TRUE(BASS_Free());
  tovarin::audio::testing_set_manual_pacing(false);
  ExpectStereoHeader(path, 48000, 4800);
  Wav w = read_wav(path);
  ASSERT_TRUE(w.valid);
  ASSERT_EQ(w.frames(), 4800u);
  for (int f = 0; f < 4800; ++f) ASSERT_EQ(w.at(f, 1), std::lrint(noise16(f, 1) * 32768)) << f;
}

// Real-time pacing, as the wav: output behaves outside tests.
TEST(PlaybackRealTime, WavOutputIsPacedAndValidAfterFree) {
  const std::string path = temp_file("rt.wav");
  setenv("TOVARIN_AUDIO_OUTPUT", ("wav:" + path).c_str(), 1);
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
  auto t0 = std::chrono::steady_clock::now();
  HSTREAM h = make_stream(44100, 2, 44100 * 3 / 10, noise16);
  ASSERT_TRUE(BASS_ChannelPlay(h, 0));
  for (int i = 0; i < 200 && BASS_ChannelIsActive(h) == BASS_ACTIVE_PLAYING; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  EXPECT_GE(elapsed, 0.25);  // not faster than real time (generous: the machine is shared)
  ASSERT_TRUE(BASS_Free());
  Wav w = read_wav(path);
  ASSERT_TRUE(w.valid);
  EXPECT_GE(w.frames(), size_t(44100 * 3 / 10));
  // The sound is in the file, in one piece.
  size_t first = 0;
  while (first < w.frames() && w.at(first, 0) == 0 && w.at(first, 1) == 0) ++first;
  ASSERT_LT(first + 13230, w.frames() + 1);
  for (int f = 0; f < 13230; ++f) ASSERT_EQ(w.at(first + f, 0), std::lrint(noise16(f, 0) * 32768)) << f;
}

// The silent output sleeps while nothing plays, and a play wakes it at once:
// the stream goes on from where it paused, never ahead of real time.
TEST(PlaybackRealTime, AnIdleSilentOutputPlaysOnFromThePause) {
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
  HSTREAM h = make_stream(44100, 2, 44100 * 600, noise16);
  auto wait_for = [](auto done) {
    for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
  };
  auto pos = [&] { return BASS_ChannelGetPosition(h, BASS_POS_BYTE); };
  ASSERT_TRUE(BASS_ChannelPlay(h, 0));
  ASSERT_TRUE(wait_for([&] { return pos() > 0; }));
  ASSERT_TRUE(BASS_ChannelPause(h));
  ASSERT_TRUE(wait_for(tovarin::audio::testing_output_sleeps)) << "the output does not idle";
  const QWORD paused = pos();
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(BASS_ChannelPlay(h, 0));
  ASSERT_TRUE(wait_for([&] { return pos() > paused; })) << "the output did not wake";
  ASSERT_TRUE(BASS_ChannelPause(h));
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // A paced output is never ahead of real time: one block of slack.
  EXPECT_LE(pos() - paused, static_cast<QWORD>((elapsed * 44100 + 441) * 4));
  ASSERT_TRUE(BASS_Free());
}
