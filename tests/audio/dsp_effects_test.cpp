// The effects on their own, against closed-form responses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"

using tovarin::audio::dsp::Effect;
using tovarin::audio::dsp::make_effect;

namespace {

std::unique_ptr<Effect> effect(DWORD type, int rate, int channels, const void* params = nullptr) {
  auto e = make_effect(type);
  EXPECT_TRUE(e);
  if (!e) return e;
  e->prepare(rate, channels);
  if (params) {
    EXPECT_TRUE(e->set_parameters(params));
  }
  return e;
}

// Runs an interleaved signal through the effect in blocks of 441 frames.
std::vector<float> run(Effect& e, std::vector<float> x, int channels) {
  const size_t frames = x.size() / channels;
  for (size_t at = 0; at < frames; at += 441) e.process(x.data() + at * channels, std::min<size_t>(441, frames - at));
  return x;
}

std::vector<float> impulse(size_t frames, int channels) {
  std::vector<float> x(frames * channels, 0.f);
  for (int c = 0; c < channels; ++c) x[c] = 1.f;
  return x;
}

// n samples of uniform noise in [-a, a), the same for the same seed.
std::vector<float> noise(size_t n, unsigned seed, float a) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-a, a);
  std::vector<float> x(n);
  for (auto& v : x) v = d(rng);
  return x;
}

}  // namespace

TEST(EffectRecords, DefaultsAndRangesAreValidated) {
  struct Case {
    DWORD type;
    std::vector<float> defaults;             // the record as floats (integer fields by value)
    std::vector<std::pair<int, float>> bad;  // field index, out-of-range value
  };
  auto as_record = [](DWORD type, const std::vector<float>& v, std::vector<uint8_t>& rec) {
    rec.assign(v.size() * 4, 0);
    for (size_t i = 0; i < v.size(); ++i) {
      bool integer = (type == BASS_FX_DX8_CHORUS || type == BASS_FX_DX8_FLANGER) ? (i == 4 || i == 6)
                     : type == BASS_FX_DX8_ECHO                                  ? i == 4
                                                                                 : false;
      if (integer) {
        uint32_t u = static_cast<uint32_t>(static_cast<int32_t>(v[i]));
        std::memcpy(&rec[i * 4], &u, 4);
      } else {
        std::memcpy(&rec[i * 4], &v[i], 4);
      }
    }
  };
  const std::vector<Case> cases = {
      {BASS_FX_DX8_CHORUS,
       {50, 10, 25, 1.1f, 1, 16, 3},
       {{0, 101}, {1, -1}, {2, 100}, {3, 10.5f}, {4, 2}, {5, 21}, {6, 5}}},
      {BASS_FX_DX8_FLANGER, {50, 100, -50, 0.25f, 1, 2, 2}, {{2, -100}, {5, 4.5f}, {6, -1}}},
      {BASS_FX_DX8_ECHO, {50, 50, 500, 500, 0}, {{0, -1}, {1, 101}, {2, 0.5f}, {3, 2001}}},
      {BASS_FX_DX8_COMPRESSOR, {0, 10, 200, -20, 3, 4}, {{0, 61}, {1, 0.001f}, {2, 49}, {3, 1}, {4, 0.5f}, {5, 4.1f}}},
      {BASS_FX_DX8_REVERB, {0, 0, 1000, 0.001f}, {{0, 1}, {1, -97}, {2, 0}, {3, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    auto e = effect(c.type, 44100, 2);
    std::vector<uint8_t> want, got(c.defaults.size() * 4);
    as_record(c.type, c.defaults, want);
    e->get_parameters(got.data());
    EXPECT_EQ(got, want) << "defaults";
    for (auto [field, value] : c.bad) {
      std::vector<float> v = c.defaults;
      v[field] = value;
      std::vector<uint8_t> rec;
      as_record(c.type, v, rec);
      EXPECT_FALSE(e->set_parameters(rec.data())) << "field " << field;
      e->get_parameters(got.data());
      EXPECT_EQ(got, want) << "kept after field " << field;
    }
    EXPECT_TRUE(e->set_parameters(want.data()));
  }
}

// Impulses of 1 on the left, -0.5 on the right; mono follows the left law.
TEST(Echo, ImpulseResponseFollowsTheFeedbackLaw) {
  for (int ch : {1, 2}) {
    BASS_DX8_ECHO p{30, 50, 10, 20, 0};  // 80 and 160 samples at 8 kHz
    auto e = effect(BASS_FX_DX8_ECHO, 8000, ch, &p);
    std::vector<float> x(1000 * ch, 0.f);
    x[0] = 1, x[ch - 1] = ch == 2 ? -0.5f : 1.f;
    auto y = run(*e, x, ch);
    const double w = 0.3, f = 0.5, s = std::sqrt(1 - f * f);
    for (int n = 0; n < 1000; ++n) {
      double left = n == 0 ? 1 - w : n % 80 == 0 ? w * s * std::pow(f, n / 80 - 1) : 0;
      double right = n == 0 ? 1 - w : n % 160 == 0 ? w * s * std::pow(f, n / 160 - 1) : 0;
      ASSERT_NEAR(y[ch * n], left, 1e-6) << ch << " " << n;
      if (ch == 2) {
        ASSERT_NEAR(y[2 * n + 1], -0.5 * right, 1e-6) << n;
      }
    }
  }
}

TEST(Echo, PanDelayPingPongsBetweenSides) {
  BASS_DX8_ECHO p{100, 50, 10, 20, -1};  // -1: on, as the plug-in passes it
  auto e = effect(BASS_FX_DX8_ECHO, 8000, 2, &p);
  std::vector<float> x(2000, 0.f);
  x[0] = 1;  // left only
  auto y = run(*e, x, 2);
  const double s = std::sqrt(0.75);
  EXPECT_NEAR(y[2 * 80 + 1], s, 1e-6);     // first repeat on the right
  EXPECT_NEAR(y[2 * 240], s * 0.5, 1e-6);  // then back on the left
  EXPECT_NEAR(y[2 * 80], 0, 1e-9);
}

TEST(Echo, FullFeedbackStaysBounded) {
  BASS_DX8_ECHO p{50, 100, 1, 1, 0};
  auto e = effect(BASS_FX_DX8_ECHO, 44100, 2, &p);
  const auto x = noise(44100 * 2, 1, 1);
  for (int rounds = 0; rounds < 5; ++rounds) {
    auto y = run(*e, x, 2);
    for (float v : y) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 4);
  }
}

// Impulses of 1 on the left, -0.5 on the right (and 1 in mono).
TEST(ChorusFlanger, WithoutDepthTheyAreTheStaticComb) {
  for (DWORD type : {BASS_FX_DX8_CHORUS, BASS_FX_DX8_FLANGER})
    for (int ch : {1, 2}) {
      SCOPED_TRACE(testing::Message() << type << " " << ch);
      BASS_DX8_CHORUS p{40, 0, -60, 1, 1, 4, 2};  // D = 32 samples at 8 kHz, g = -0.6
      auto e = effect(type, 8000, ch, &p);
      std::vector<float> x(400 * ch, 0.f);
      x[0] = 1, x[ch - 1] = ch == 2 ? -0.5f : 1.f;
      auto y = run(*e, x, ch);
      // The chorus feeds one line with the channels' mean, the flanger one
      // line per channel.
      const double mean = ch == 2 ? 0.25 : 1, wet_l = type == BASS_FX_DX8_CHORUS ? mean : 1,
                   wet_r = type == BASS_FX_DX8_CHORUS ? mean : -0.5;
      auto want = [](int n, double dry, double wet) {
        return n == 0 ? 0.6 * dry : n % 32 == 0 ? 0.4 * std::pow(-0.6, n / 32 - 1) * wet : 0;
      };
      for (int n = 0; n < 400; ++n) {
        ASSERT_NEAR(y[ch * n], want(n, 1, wet_l), 1e-6) << n;
        if (ch == 2) {
          ASSERT_NEAR(y[2 * n + 1], want(n, -0.5, wet_r), 1e-6) << n;
        }
      }
    }
}

// A ramp through the pure wet path reads back its own delay: n - y[n].
TEST(ChorusFlanger, SweepCoversTheDepthAtTheRateWithThePhase) {
  BASS_DX8_CHORUS p{100, 100, 0, 1, 1, 4, 3};  // flanger: 32 +- 16 samples, 1 Hz, right +90 degrees
  auto e = effect(BASS_FX_DX8_FLANGER, 8000, 2, &p);
  const int frames = 16000;
  std::vector<float> x(frames * 2);
  for (int n = 0; n < frames; ++n) x[2 * n] = x[2 * n + 1] = float(n);
  auto y = run(*e, x, 2);
  double lo = 1e9, hi = -1e9;
  for (int n = 100; n < frames; ++n) {
    double tau = n - y[2 * n];
    lo = std::min(lo, tau), hi = std::max(hi, tau);
    // Left: sine LFO from phase 0; right leads by a quarter cycle.
    ASSERT_NEAR(tau, 32 + 16 * std::sin(2 * M_PI * n / 8000.0), 0.01) << n;
    ASSERT_NEAR(n - y[2 * n + 1], 32 + 16 * std::sin(2 * M_PI * (n / 8000.0 + 0.25)), 0.01) << n;
  }
  EXPECT_NEAR(lo, 16, 0.01);
  EXPECT_NEAR(hi, 48, 0.01);
}

TEST(Compressor, StaticCurveAndMakeUpGain) {
  // A steady square wave at -10 dB, threshold -20 dB, 3:1: -16.67 dB out.
  for (float gain : {0.f, 6.f}) {
    BASS_DX8_COMPRESSOR p{gain, 1, 50, -20, 3, 0};
    auto e = effect(BASS_FX_DX8_COMPRESSOR, 44100, 2, &p);
    const float a = float(std::pow(10, -10 / 20.0));
    std::vector<float> x(44100 * 2);  // the right side is the left one inverted
    for (size_t i = 0; i < x.size(); ++i) x[i] = ((i / 200) % 2 ? a : -a) * (i % 2 ? -1 : 1);
    auto y = run(*e, x, 2);
    double out_db = 20 * std::log10(std::fabs(y[y.size() - 1]));
    EXPECT_NEAR(out_db, -16.6667 + gain, 0.01);
    EXPECT_NEAR(y[y.size() - 2], -y[y.size() - 1], 1e-6);
  }
}

TEST(Compressor, AttackCoversNinetyPercentInItsTime) {
  BASS_DX8_COMPRESSOR p{0, 20, 500, -20, 3, 0};
  const int rate = 48000, step_at = 48000, attack = 20 * 48;
  auto e = effect(BASS_FX_DX8_COMPRESSOR, rate, 1, &p);
  std::vector<float> x(2 * rate);
  for (int n = 0; n < 2 * rate; ++n) x[n] = float(std::pow(10, (n < step_at ? -40 : -10) / 20.0));
  auto y = run(*e, x, 1);
  auto gr_db = [&](int n) { return 20 * std::log10(y[n] / x[n]); };
  EXPECT_NEAR(gr_db(step_at - 1), 0, 1e-3);
  // 90 % of the 30 dB step: the detector reads -13 dB, 7 dB over the
  // threshold, so the gain is -7 x (1 - 1/3).
  EXPECT_NEAR(gr_db(step_at + attack), -7 * 2 / 3.0, 0.05);
  EXPECT_NEAR(gr_db(2 * rate - 1), -10 * 2 / 3.0, 0.01);
}

// A sound that starts from silence (at the very start, after a pause, or
// after silence that followed a loud passage) is caught in the attack time:
// its gain reduction reaches 90 % of the final one after fAttack.
TEST(Compressor, AttackFromSilenceTakesTheAttackTime) {
  BASS_DX8_COMPRESSOR p{0, 20, 200, -20, 3, 0};
  const int rate = 48000, attack = 20 * 48;
  const float loud = float(std::pow(10, -10 / 20.0));
  struct Case {
    int burst, silence;  // frames of a loud burst, then of silence, before the onset
  } cases[] = {{0, 0}, {0, 24000}, {4800, 48000}};
  for (auto c : cases) {
    SCOPED_TRACE(c.silence);
    auto e = effect(BASS_FX_DX8_COMPRESSOR, rate, 1, &p);
    const int onset = c.burst + c.silence;
    std::vector<float> x(onset + rate);
    for (int n = 0; n < int(x.size()); ++n) x[n] = n < c.burst || n >= onset ? loud : 0.f;
    auto y = run(*e, x, 1);
    const double final_db = 20 * std::log10(y.back() / loud);
    ASSERT_NEAR(final_db, -10 * 2 / 3.0, 0.01);
    int reached = onset;
    while (reached < int(y.size()) && 20 * std::log10(y[reached] / loud) > 0.9 * final_db) ++reached;
    EXPECT_NEAR(reached - onset, attack, attack * 0.1);
  }
}

TEST(Compressor, PredelayDelaysTheSound) {
  BASS_DX8_COMPRESSOR p{0, 10, 200, 0, 1, 4};  // ratio 1: no compression
  auto e = effect(BASS_FX_DX8_COMPRESSOR, 8000, 1, &p);
  auto y = run(*e, impulse(100, 1), 1);
  for (int n = 0; n < 100; ++n) ASSERT_NEAR(y[n], n == 32 ? 1.0 : 0.0, 1e-6) << n;
}

namespace {
// Decay time by Schroeder backward integration, fit from -5 to -35 dB,
// extrapolated to -60 dB, in seconds.
double rt60(const std::vector<double>& h, int rate) {
  std::vector<double> e(h.size());
  double acc = 0;
  for (size_t i = h.size(); i-- > 0;) e[i] = acc += h[i] * h[i];
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  int n = 0;
  for (size_t i = 0; i < h.size(); ++i) {
    double db = 10 * std::log10(e[i] / e[0]);
    if (db > -5 || db < -35) continue;
    double t = double(i) / rate;
    sx += t, sy += db, sxx += t * t, sxy += t * db, ++n;
  }
  double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  return -60 / slope;
}

// The part of x between lo and hi Hz: eighth-order Butterworth high- and
// lowpasses (cookbook biquads) in series.
std::vector<double> band(const std::vector<double>& x, double lo, double hi, int rate) {
  std::vector<double> y = x;
  for (int kind = 0; kind < 2; ++kind)
    for (double q : {0.50979558, 0.60134489, 0.89997622, 2.56291545}) {
      double w0 = 2 * M_PI * (kind ? hi : lo) / rate, alpha = std::sin(w0) / (2 * q), c = std::cos(w0);
      double b0 = kind ? (1 - c) / 2 : (1 + c) / 2, b1 = kind ? 1 - c : -(1 + c), a0 = 1 + alpha;
      double s1 = 0, s2 = 0;
      for (double& v : y) {
        double out = (b0 * v) / a0 + s1;
        s1 = (b1 * v) / a0 + (2 * c / a0) * out + s2;
        s2 = (b0 * v) / a0 - ((1 - alpha) / a0) * out;
        v = out;
      }
    }
  return y;
}

// Normalised echo density (Abel and Huang) of a 20 ms window centred on
// sample at: the share of samples above the window's RMS over that share
// for Gaussian noise (erfc(1/sqrt 2)). Noise reads about 1, sparse echoes
// much less.
double echo_density(const std::vector<double>& h, size_t at, int rate) {
  const size_t half = rate / 100;
  double e = 0;
  for (size_t i = at - half; i < at + half; ++i) e += h[i] * h[i];
  const double sigma = std::sqrt(e / (2 * half));
  size_t above = 0;
  for (size_t i = at - half; i < at + half; ++i) above += std::fabs(h[i]) > sigma;
  return double(above) / (2 * half) / std::erfc(1 / std::sqrt(2.0));
}

std::vector<double> reverb_ir(const BASS_DX8_REVERB& p, double seconds, int channel = 0) {
  auto e = effect(BASS_FX_DX8_REVERB, 44100, 2, &p);
  auto y = run(*e, impulse(size_t(44100 * seconds), 2), 2);
  std::vector<double> h(y.size() / 2);
  for (size_t i = 0; i < h.size(); ++i) h[i] = y[2 * i + channel];
  return h;
}
}  // namespace

// Lows decay in the reverb time whatever the ratio; the 4-8 kHz band in the
// reverb time x ratio.
TEST(Reverb, EachBandDecaysInItsOwnTime) {
  {
    // First the measures themselves, on a synthetic decay of 0.8 s.
    std::mt19937 rng(3);
    std::normal_distribution<double> d;
    std::vector<double> h(44100 * 2);
    for (size_t i = 0; i < h.size(); ++i) h[i] = d(rng) * std::pow(10, -3.0 * i / 44100 / 0.8);
    EXPECT_NEAR(rt60(h, 44100), 0.8, 0.02);
    EXPECT_NEAR(rt60(band(h, 500, 1000, 44100), 44100), 0.8, 0.04);
    EXPECT_NEAR(echo_density(h, 44100, 44100), 1.0, 0.1);
    std::vector<double> sparse(44100, 0.0);
    for (size_t i = 0; i < sparse.size(); i += 50) sparse[i] = 1;
    EXPECT_LT(echo_density(sparse, 22050, 44100), 0.1);
  }
  for (float ratio : {0.001f, 0.01f, 0.1f, 0.5f, 0.999f}) {
    SCOPED_TRACE(ratio);
    auto h = reverb_ir({0, 0, 1000, ratio}, 2.5);
    EXPECT_NEAR(rt60(band(h, 125, 250, 44100), 44100), 1.0, 0.1);
    EXPECT_NEAR(rt60(band(h, 500, 1000, 44100), 44100), 1.0, 0.1);
    if (ratio >= 0.1f) {
      EXPECT_NEAR(rt60(band(h, 4000, 8000, 44100), 44100), ratio, ratio * 0.25);
    }
  }
}

// A tail, not a flutter of separate echoes: dense from 100 ms on. A 20 ms
// window of band-limited noise reads anywhere from about 0.78 to 1.1, so the
// profile is averaged over 50 ms (five windows) for the defaults, whose highs
// are gone after the first pass; the full-band tail holds window by window.
TEST(Reverb, TailIsDenseFrom100Ms) {
  for (int channel : {0, 1}) {
    auto h = reverb_ir({0, 0, 1000, 0.001f}, 1.0, channel);
    for (size_t at = 4410; at + 2205 <= 44100 - 441; at += 2205) {
      double mean = 0;
      for (size_t k = 0; k < 5; ++k) mean += echo_density(h, at + k * 441, 44100) / 5;
      ASSERT_GE(mean, 0.8) << channel << " " << at;
    }
    h = reverb_ir({0, 0, 1000, 0.999f}, 1.0, channel);
    for (size_t at = 4410; at <= 44100 - 441; at += 441)
      ASSERT_GE(echo_density(h, at, 44100), 0.8) << channel << " " << at;
  }
}

TEST(Reverb, DecayTimeIsTheReverbTime) {
  // Times well above the lines' 45..76 ms, whose staggered first arrivals
  // would otherwise dominate the -5 dB end of the fit.
  for (float t : {600.f, 1200.f, 2500.f}) {
    SCOPED_TRACE(t);
    const auto left = reverb_ir({0, 0, t, 0.999f}, t / 1000 * 3);
    EXPECT_EQ(left[0], 0.0);  // mix 0 dB: no direct sound
    EXPECT_NEAR(rt60(left, 44100), t / 1000, t / 1000 * 0.1) << rt60(left, 44100);
  }
}

TEST(Reverb, HighsDecayFasterByTheRatio) {
  BASS_DX8_REVERB p{0, 0, 1000, 0.3f};
  auto e = effect(BASS_FX_DX8_REVERB, 44100, 1, &p);
  auto y = run(*e, impulse(44100 * 2, 1), 1);
  // Second difference: a high-pass that leaves mostly the top octaves.
  std::vector<double> high(y.size() - 2), all(y.begin(), y.end());
  for (size_t i = 0; i + 2 < y.size(); ++i) high[i] = y[i + 2] - 2 * y[i + 1] + y[i];
  double t_all = rt60(all, 44100), t_high = rt60(high, 44100);
  EXPECT_LT(t_high, t_all * 0.6);
  EXPECT_GT(t_high, 1.0 * 0.3 * 0.7);
}

TEST(Reverb, DryMixIsTheInputTimesInGain) {
  for (int ch : {1, 2}) {
    BASS_DX8_REVERB p{-6, -96, 1000, 0.5f};
    auto e = effect(BASS_FX_DX8_REVERB, 44100, ch, &p);
    const auto x = noise(44100, 5, 0.5f);
    auto y = run(*e, x, ch);
    const double g = std::pow(10, -6 / 20.0);
    for (size_t i = 0; i < x.size(); ++i) ASSERT_NEAR(y[i], x[i] * g, 1e-4) << ch << " " << i;
  }
}

// A band set to 0 dB passes the sound untouched; set back to a gain it starts
// afresh rather than ringing with what it held before.
TEST(ParamEq, ABandSwitchedBackOnDoesNotReplayOldSound) {
  BASS_DX8_PARAMEQ boost{1000, 12, 15}, flat{1000, 12, 0};
  auto e = effect(BASS_FX_DX8_PARAMEQ, 44100, 2, &boost);
  std::vector<float> sine(4421 * 2);  // ends near a peak
  for (size_t i = 0; i < sine.size(); ++i) sine[i] = 0.5f * std::sin(2 * M_PI * 1000 * (i / 2) / 44100.0);
  run(*e, sine, 2);
  ASSERT_TRUE(e->set_parameters(&flat));
  run(*e, std::vector<float>(441 * 2, 0.f), 2);
  ASSERT_TRUE(e->set_parameters(&boost));
  auto y = run(*e, std::vector<float>(441 * 2, 0.f), 2);
  for (size_t i = 0; i < y.size(); ++i) ASSERT_EQ(y[i], 0.f) << i;
}

// Mono and more than two channels take another path than stereo. Each
// channel gets its own tone (centre or lower band edge) so that a crossed
// channel shows: the band's gain at its centre, half of it at its edges.
TEST(ParamEq, EveryChannelCountBoostsEachChannelsOwnTone) {
  for (int ch : {1, 2, 3, 6}) {
    for (float gain : {12.f, -12.f}) {
      SCOPED_TRACE(testing::Message() << ch << " channels, " << gain << " dB");
      BASS_DX8_PARAMEQ p{1000, 12, gain};
      auto e = effect(BASS_FX_DX8_PARAMEQ, 44100, ch, &p);
      auto hz = [](int c) { return c % 2 ? 1000 / std::sqrt(2.0) : 1000.0; };
      const size_t frames = 22050;
      std::vector<float> x(frames * ch);
      for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < ch; ++c) x[i * ch + c] = float(0.1 * std::sin(2 * M_PI * hz(c) * i / 44100));
      auto y = run(*e, x, ch);
      for (int c = 0; c < ch; ++c) {
        double in = 0, out = 0;
        for (size_t i = frames / 2; i < frames; ++i)
          in += x[i * ch + c] * x[i * ch + c], out += y[i * ch + c] * y[i * ch + c];
        EXPECT_NEAR(10 * std::log10(out / in), c % 2 ? gain / 2 : gain, 0.05) << "channel " << c;
      }
    }
  }
}

// A chain runs its bands together, in one or more shared passes, with the
// processor's wider vectors or without: whatever the number of bands (flat
// ones among them) and the block size, the sound is each band's textbook
// biquad in turn.
TEST(ParamEq, AChainOfBandsIsEachBandInTurn) {
  const float centres[] = {80, 170, 310, 600, 1000, 3000, 6000, 12000, 14000, 14700, 250, 2500, 9000};
  struct Section {
    double b0, b1, b2, a1, a2, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  };
  for (bool wide : {false, true}) {
    if (!tovarin::audio::dsp::use_wide_vectors(wide)) continue;
    for (size_t bands : {1, 2, 3, 7, 10, 13}) {
      for (size_t block : {1, 5, 441, 4096}) {
        SCOPED_TRACE(testing::Message() << "wide " << wide << ", " << bands << " bands, blocks of " << block);
        std::vector<std::unique_ptr<Effect>> owned;
        std::vector<Effect*> chain;
        std::vector<Section> want;
        for (size_t b = 0; b < bands; ++b) {
          const float gain = b % 4 == 3 ? 0.f : (b % 2 ? -9.f : 12.f);
          BASS_DX8_PARAMEQ p{centres[b], 6.f + b, gain};
          owned.push_back(effect(BASS_FX_DX8_PARAMEQ, 44100, 2, &p));
          chain.push_back(owned.back().get());
          const double A = std::pow(10, gain / 40.0), w0 = 2 * M_PI * centres[b] / 44100;
          const double alpha = std::sin(w0) * std::sinh(std::log(2) / 2 * p.fBandwidth / 12 * w0 / std::sin(w0));
          const double a0 = 1 + alpha / A;
          want.push_back({(1 + alpha * A) / a0, -2 * std::cos(w0) / a0, (1 - alpha * A) / a0, -2 * std::cos(w0) / a0,
                          (1 - alpha / A) / a0});
        }
        const std::vector<float> x = noise(2 * 9000, 7, 0.5f);
        std::vector<float> y = x;
        for (size_t at = 0; at < 9000; at += block)
          tovarin::audio::dsp::run_chain(chain.data(), chain.size(), y.data() + 2 * at,
                                         std::min<size_t>(block, 9000 - at), 2);
        std::vector<Section> left = want, right = want;
        for (size_t i = 0; i < x.size(); ++i) {
          double v = x[i];
          for (Section& q : i % 2 ? right : left) {
            const double out = q.b0 * v + q.b1 * q.x1 + q.b2 * q.x2 - q.a1 * q.y1 - q.a2 * q.y2;
            q.x2 = q.x1, q.x1 = v, q.y2 = q.y1, q.y1 = out;
            v = out;
          }
          ASSERT_NEAR(y[i], v, 1e-5) << "sample " << i;
        }
      }
    }
  }
  tovarin::audio::dsp::use_wide_vectors(true);
}

TEST(EffectsAlone, SilenceStaysCleanAfterSound) {
  for (DWORD type : {BASS_FX_DX8_PARAMEQ, BASS_FX_DX8_CHORUS, BASS_FX_DX8_FLANGER, BASS_FX_DX8_ECHO,
                     BASS_FX_DX8_COMPRESSOR, BASS_FX_DX8_REVERB}) {
    SCOPED_TRACE(type);
    auto e = effect(type, 44100, 2);
    if (type == BASS_FX_DX8_PARAMEQ) {
      BASS_DX8_PARAMEQ p{1000, 12, 15};
      ASSERT_TRUE(e->set_parameters(&p));
    }
    auto y = run(*e, impulse(44100, 2), 2);
    y = run(*e, std::vector<float>(44100 * 20, 0.f), 2);
    for (float v : y) ASSERT_TRUE(std::isfinite(v) && (v == 0 || std::fabs(v) > 1e-30f));
  }
}

// Where the processor has AVX2 and FMA the effects run builds made for them;
// the baseline builds must sound the same, but for rounding.
TEST(EffectsAlone, WideAndBaselineBuildsAgree) {
  if (!tovarin::audio::dsp::use_wide_vectors(true)) GTEST_SKIP() << "no AVX2 and FMA here";
  const std::vector<float> x = noise(2 * 44100, 3, 0.5f);
  for (DWORD type : {BASS_FX_DX8_PARAMEQ, BASS_FX_DX8_CHORUS, BASS_FX_DX8_FLANGER, BASS_FX_DX8_ECHO,
                     BASS_FX_DX8_COMPRESSOR, BASS_FX_DX8_REVERB}) {
    SCOPED_TRACE(type);
    const BASS_DX8_PARAMEQ band{1000, 12, 9};
    const void* p = type == BASS_FX_DX8_PARAMEQ ? &band : nullptr;
    auto wide = effect(type, 44100, 2, p), base = effect(type, 44100, 2, p);
    std::vector<float> a = x, b = x;
    for (size_t at = 0; at < 44100; at += 441) {
      tovarin::audio::dsp::use_wide_vectors(true);
      wide->process(a.data() + 2 * at, 441);
      tovarin::audio::dsp::use_wide_vectors(false);
      base->process(b.data() + 2 * at, 441);
    }
    tovarin::audio::dsp::use_wide_vectors(true);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i], 1e-4) << i;
  }
}
