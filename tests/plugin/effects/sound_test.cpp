// What the equalizer and the echo do to the sound, heard through the wav:
// output and measured against closed forms.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "host_fixture.hpp"

namespace {

class EffectSoundTest : public WavOutputTest {
 protected:
  // The left channel of what was heard (the library is freed first).
  std::vector<double> HeardLeft() {
    const WavData wav = Heard();
    std::vector<double> left;
    for (size_t i = 0; i < wav.samples.size(); i += wav.channels) left.push_back(wav.samples[i]);
    return left;
  }
  void EqSet(int32_t band, int32_t gain, int32_t semitones) {
    plugin.SetData(band);
    plugin.SetData(gain);
    plugin.SetData(semitones);
    fx.Bass_EqSet();
  }

  Plugin& fx = plugin;  // the effects' exports
};

// Level of the 1000 Hz component per 10 ms window (exactly ten cycles at
// 44100 Hz), in dB relative to a sine of amplitude 0.5.
std::vector<double> LevelsAt1kHz(const std::vector<double>& x) {
  constexpr int kN = 441;
  const double w = 2 * M_PI * 1000.0 / 44100.0;
  std::vector<double> levels;
  for (size_t start = 0; start + kN <= x.size(); start += kN) {
    double s1 = 0, s2 = 0;
    for (int n = 0; n < kN; ++n) {
      const double s0 = x[start + n] + 2 * std::cos(w) * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    const double amplitude = 2 * std::sqrt(std::max(power, 0.0)) / kN;
    levels.push_back(20 * std::log10(std::max(amplitude, 1e-9) / (0.5 * 32767)));
  }
  return levels;
}

struct Plateau {
  char kind;  // 'H' unchanged, 'L' lowered
  std::vector<double> levels;
};

// Runs of at least 200 ms at full level or at the band's gain, in order;
// fades, transitions and silence between them are passed over.
std::vector<Plateau> Plateaus(const std::vector<double>& levels, double low_db) {
  std::vector<Plateau> runs;
  Plateau current{0, {}};
  auto close = [&] {
    if (current.kind && current.levels.size() >= 20) runs.push_back(current);
    current = Plateau{0, {}};
  };
  for (double db : levels) {
    const char kind = std::abs(db) < 1.0 ? 'H' : std::abs(db - low_db) < 1.5 ? 'L' : 0;
    if (kind != current.kind) close();
    current.kind = kind;
    if (kind) current.levels.push_back(db);
  }
  close();
  return runs;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? NAN : v[v.size() / 2];
}

TEST_F(EffectSoundTest, EqualizerBandLowersItsCentreByItsGainAndRemovalRestoresTheSignal) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("sine1k.wav", 8.0, 44100, 2, 1000.0)));
  EqSet(5, -15, 12);  // before CreateEQ: ignored
  fx.Bass_CreateEQ();
  plugin.Bass_Play();
  PumpFor(1000);  // band 5 at 0 dB
  EqSet(5, -15, 12);
  PumpFor(900);  // lowered
  fx.Bass_EqRemove();
  PumpFor(900);  // unprocessed
  fx.Bass_CreateEQ();
  PumpFor(900);  // the stored band applies again
  const auto runs = Plateaus(LevelsAt1kHz(HeardLeft()), -15.0);
  std::string kinds;
  for (const auto& r : runs) kinds += r.kind;
  ASSERT_EQ(kinds, "HLHL");
  for (int i : {1, 3}) {
    const double db = Median(runs[i].levels);
    RecordProperty(i == 1 ? "band_centre_db" : "band_centre_db_recreated", std::to_string(db));
    EXPECT_NEAR(db, -15.0, 0.2) << "at the band's centre";
  }
  for (int i : {0, 2}) EXPECT_NEAR(Median(runs[i].levels), 0.0, 0.05) << "0 dB and removal leave the sine as it is";
  EXPECT_TRUE(MessageBoxes().empty());
}

// First sample at or after from whose magnitude exceeds the threshold.
long Onset(const std::vector<double>& x, size_t from, double threshold) {
  for (size_t i = from; i < x.size(); ++i)
    if (std::abs(x[i]) > threshold) return static_cast<long>(i);
  return -1;
}

double PeakIn(const std::vector<double>& x, size_t from, size_t to) {
  double peak = 0;
  for (size_t i = from; i < std::min(to, x.size()); ++i) peak = std::max(peak, std::abs(x[i]));
  return peak;
}

TEST_F(EffectSoundTest, EchoSetOnOneSlotRepeatsOnceAtItsDelayWhenCreatedTwiceOnAnother) {
  StartPlayer();
  // A 10 ms burst of 1 kHz, amplitude 0.5, one second in (after the fade).
  const std::string burst = TempDir() + "/burst.wav";
  ASSERT_TRUE(
      ::Run("ffmpeg -v error -y -f lavfi -i 'aevalsrc=if(between(t\\,1\\,1.01)\\,0.5*sin(2*PI*1000*t)\\,0)|"
            "if(between(t\\,1\\,1.01)\\,0.5*sin(2*PI*1000*t)\\,0):s=44100' -t 2.5 -c:a pcm_s16le " +
            burst));
  // Set while slot 1 (empty) is current: wet 50 %, no feedback, 120 ms.
  for (const char* t : {"50", "0", "120", "120"}) plugin.SetFile(t);
  plugin.SetData(0);
  fx.Bass_SetEcho();
  // A failed conversion stores nothing.
  for (const char* t : {"50", "abc", "300", "300"}) plugin.SetFile(t);
  fx.Bass_SetEcho();
  ASSERT_EQ(MessageBoxes(), std::vector<std::string>{"Set Echo Error - 'abc' is not a valid floating point value"});

  plugin.ChannelNum(2);
  ASSERT_TRUE(plugin.Create(burst));
  fx.Bass_CreateEcho();
  fx.Bass_CreateEcho();  // replaces the first: one echo, not two in a row
  plugin.Bass_Play();
  // Heard past 1.5 s: the burst at 1 s and its echo 120 ms later.
  ASSERT_TRUE(PumpUntil([&] { return plugin.Position() >= 2; }, 60000));
  const auto x = HeardLeft();

  const double threshold = 1000;
  const long direct = Onset(x, 0, threshold);
  ASSERT_GE(direct, 0) << "nothing was heard";
  const long echo = Onset(x, direct + 1323, threshold);  // 30 ms on
  ASSERT_GE(echo, 0) << "no echo";
  RecordProperty("echo_delay_samples", std::to_string(echo - direct));
  EXPECT_NEAR(echo - direct, 5292, 2) << "120 ms at 44100 Hz";
  // Dry and wet halves of amplitude 0.5 each: 0.25 of full scale.
  EXPECT_NEAR(PeakIn(x, direct, direct + 441), 8192, 300);
  EXPECT_NEAR(PeakIn(x, echo, echo + 441), 8192, 300);
  // Nothing more: a second echo in the chain would repeat at 240 ms.
  EXPECT_LT(PeakIn(x, echo + 1323, direct + 44100 / 2), 100);
}

}  // namespace
