// Transport with volume fades, heard through the wav: output.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "host_fixture.hpp"

namespace {

// Peak of the left channel in each millisecond of the output.
std::vector<int> Envelope(const WavData& wav) {
  std::vector<int> env;
  const size_t per_ms = static_cast<size_t>(wav.rate / 1000) * wav.channels;
  for (size_t i = 0; i + per_ms <= wav.samples.size(); i += per_ms) {
    int peak = 0;
    for (size_t j = i; j < i + per_ms; j += wav.channels) peak = std::max(peak, std::abs(int(wav.samples[j])));
    env.push_back(peak);
  }
  return env;
}

int FirstAtLeast(const std::vector<int>& env, int level, size_t from = 0) {
  for (size_t i = from; i < env.size(); ++i)
    if (env[i] >= level) return static_cast<int>(i);
  return -1;
}

class FadeTest : public WavOutputTest {
 protected:
  // The envelope of what was heard (the library is freed first).
  std::vector<int> Heard() { return Envelope(WavOutputTest::Heard()); }
  // Waits until every fade has posted its last step, then lets the form
  // carry out what it was sent.
  static void FadesDone() {
    ASSERT_TRUE(PumpUntil([] { return FadeThreads() == 0; }, 30000));
    tovui_pump(0);
  }
  // The steps posted since the last call, where they can be counted.
  static void ExpectSteps(const std::vector<int32_t>& want) {
    if (CanCountFadeSteps()) {
      EXPECT_EQ(FadeSteps(), want);
    }
    ClearFadeSteps();
  }
  // Waits, once the fade's last step is carried out, until the output has
  // played on for over a second: levels are measured before the volume, so
  // only the position says that full-volume sound has been heard.
  void UntilFull() {
    const int at = plugin.Position();
    ASSERT_TRUE(PumpUntil([&] { return plugin.Position() >= at + 2; }, 30000));
  }

  // A player with a steady 1 kHz tone open in it.
  void OpenTone(const std::string& name, double seconds = 10.0) {
    StartPlayer();
    ASSERT_TRUE(plugin.Create(MakeWav(name, seconds, 44100, 2, 1000.0)));
  }
  // OpenTone, played past 2 s, its fade done and its steps forgotten.
  void PlayPastTwoSeconds(const std::string& name) {
    OpenTone(name);
    plugin.Bass_Play();
    ASSERT_TRUE(PumpUntil([&] { return plugin.Position() >= 2; }, 30000));
    FadesDone();
    ClearFadeSteps();
  }

  // A steady sine of amplitude 0.5: full volume peaks near 16384.
  static constexpr int kFull = 16384;
  // Milliseconds of sound that tell a fade of many steps from one jump.
  static constexpr int kRiseMs = 20;
};

}  // namespace

TEST_F(FadeTest, PlayFadesInFromSilenceOverVolumeSteps) {
  OpenTone("tone.wav");
  plugin.Bass_Play();  // returns at once; the fade runs as we pump
  FadesDone();
  ExpectSteps(Steps(1, 100));  // volume 100: a hundred steps of 1 %
  UntilFull();
  const auto env = Heard();
  const int start = FirstAtLeast(env, kFull / 20);
  ASSERT_GE(start, 0) << "nothing was heard";
  // Nothing before the fade's first step; then it rises through the levels.
  for (int i = 0; i < start; ++i) ASSERT_LT(env[i], kFull / 20);
  // From 5 % to 90 % is 85 steps: far longer than the mixer's 5 ms ramp
  // over which a jump would pass (however fast the machine).
  EXPECT_GE(FirstAtLeast(env, kFull * 9 / 10, start) - start, kRiseMs);
}

TEST_F(FadeTest, StopFadesOutThenStopsAndPlayStartsAgainFromZero) {
  PlayPastTwoSeconds("long.wav");
  plugin.Bass_Stop();
  FadesDone();
  ExpectSteps(Steps(100, 1));
  EXPECT_FALSE(tovui_is_visible(Form()));  // the stop's last step hides the form
  // A play that came within the same output block as the stop would be heard
  // as a dip, not a silence: let the output render past the stop first.
  PumpFor(100);

  plugin.Bass_Play();
  FadesDone();
  ExpectSteps(Steps(1, 100));
  EXPECT_LT(plugin.Position(), 2);  // rewound: it had passed 2 s
  ASSERT_TRUE(PumpUntil([&] { return plugin.Position() >= 1; }, 30000));

  const auto env = Heard();
  // The fade out passes through the levels down to silence, which lasts
  // until the next play.
  const int loud_from = FirstAtLeast(env, kFull * 9 / 10);
  ASSERT_GE(loud_from, 0);
  int fall_start = -1, silent = -1;
  for (size_t i = loud_from; i < env.size(); ++i) {
    if (fall_start < 0 && env[i] < kFull * 9 / 10) fall_start = static_cast<int>(i);
    if (fall_start >= 0 && env[i] == 0) {
      silent = static_cast<int>(i);
      break;
    }
  }
  ASSERT_GT(fall_start, 0);
  ASSERT_GT(silent, fall_start) << "the stop never fell silent";
  EXPECT_GE(silent - fall_start, kRiseMs);
}

TEST_F(FadeTest, PauseFadesOutAndPlayGoesOnWhereItPaused) {
  PlayPastTwoSeconds("pause.wav");
  plugin.Bass_Pause();
  FadesDone();
  ExpectSteps(Steps(100, 1));
  const int paused_at = plugin.Position();
  EXPECT_GE(paused_at, 2);
  PumpFor(500);
  EXPECT_EQ(plugin.Position(), paused_at);
  plugin.Bass_Play();
  FadesDone();
  EXPECT_GE(plugin.Position(), paused_at);  // not rewound
  ASSERT_TRUE(PumpUntil([&] { return plugin.Position() >= paused_at + 1; }, 30000));
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(FadeTest, VolumeZeroMakesTransportDoNothing) {
  OpenTone("zero.wav", 3.0);
  plugin.SetVolume(0);
  plugin.Bass_Play();
  FadesDone();
  ExpectSteps({});
  EXPECT_EQ(plugin.Position(), 0);
  const auto env = Heard();
  EXPECT_EQ(FirstAtLeast(env, 1), -1) << "something was heard";
}

TEST_F(FadeTest, StopDuringQueuedPlayStepsTurnsThemIntoStops) {
  OpenTone("race.wav");
  plugin.Bass_Play();
  // Answer the worker's volume request only, then let it queue all its
  // hundred play steps (it ends after the last) while this thread does not
  // pump.
  ASSERT_EQ(tovui_pump(2000), 1);
  for (int i = 0; i < 30000 && FadeThreads() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(FadeThreads(), 0);
  plugin.Bass_Stop();
  FadesDone();
  // Steps 1 and 2 stopped instead of playing; the rest only set volumes,
  // and the stop's own fade followed.
  ExpectSteps([] {
    auto v = Steps(1, 100), down = Steps(100, 1);
    v.insert(v.end(), down.begin(), down.end());
    return v;
  }());
  EXPECT_EQ(plugin.Position(), 0);
  EXPECT_FALSE(tovui_is_visible(Form()));
  // Volume ended where it was: the next play fades in over 100 steps again.
  plugin.Bass_Play();
  FadesDone();
  ExpectSteps(Steps(1, 100));
  UntilFull();
  const auto env = Heard();
  const int start = FirstAtLeast(env, kFull / 20);
  ASSERT_GE(start, 0);
  EXPECT_GE(FirstAtLeast(env, kFull * 9 / 10, start) - start, kRiseMs);
}

TEST_F(FadeTest, WorkersStayFewAndAHugeVolumeFadesInTwoThousandSteps) {
  OpenTone("busy.wav");
  int most = 0;
  // `first` and `then` in turn, `ms` apart, `rounds` times.
  auto churn = [&](int rounds, void (*first)(), void (*then)(), int ms) {
    for (int i = 0; i < rounds; ++i) {
      first();
      PumpFor(ms);
      then();
      PumpFor(ms);
      most = std::max(most, FadeThreads());
    }
  };
  // Play and stop every few milliseconds: one running fade, one waiting.
  churn(50, plugin.Bass_Play, plugin.Bass_Stop, 3);
  EXPECT_LE(most, 2);
  // 2^31-1 percent: a play fade of that many 1 ms steps would last 24 days.
  plugin.SetVolume(INT32_MAX);
  plugin.Bass_Play();
  churn(20, plugin.Bass_Stop, plugin.Bass_Play, 2);
  EXPECT_LE(most, 2);
  // The running fade and the waiting one end (their last steps, still
  // queued, set volumes of their own).
  FadesDone();
  ClearFadeSteps();
  // Alone, a play fade of 2^31-1 percent takes 2001 steps (1, then strides
  // up to the volume), then plays.
  plugin.SetVolume(INT32_MAX);
  plugin.Bass_Play();
  FadesDone();
  if (CanCountFadeSteps()) {
    const auto steps = FadeSteps();
    ASSERT_EQ(steps.size(), 2001u);
    EXPECT_EQ(steps.front(), 1);
    EXPECT_EQ(steps.back(), INT32_MAX);
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
  }
  ASSERT_TRUE(PumpUntil([&] { return plugin.Position() >= 1; }, 30000));
  // Bass_Free ends a fade under way.
  plugin.Bass_Stop();
  PumpFor(20);
  plugin.Bass_Free();
  EXPECT_EQ(FadeThreads(), 0);
  EXPECT_TRUE(MessageBoxes().empty());
}
