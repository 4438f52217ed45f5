// The effect chain and the equalizer band, against the biquad's closed form.
#include <atomic>
#include <complex>
#include <thread>

#include "test_support.hpp"

using namespace audio_test;

using Effects = LibraryTest;

namespace {
// Magnitude in dB of the peaking biquad at frequency f.
double peaking_db(double fc, double bw_semitones, double gain, double fs, double f) {
  double A = std::pow(10, gain / 40), w0 = 2 * M_PI * fc / fs;
  double alpha = std::sin(w0) * std::sinh(std::log(2) / 2 * bw_semitones / 12 * w0 / std::sin(w0));
  std::complex<double> z = std::polar(1.0, -2 * M_PI * f / fs);
  auto num = (1 + alpha * A) - 2 * std::cos(w0) * z + (1 - alpha * A) * z * z;
  auto den = (1 + alpha / A) - 2 * std::cos(w0) * z + (1 - alpha / A) * z * z;
  return 20 * std::log10(std::abs(num / den));
}

// RMS gain in dB of a sine at f through the library's output.
double measured_db(const Wav& w, size_t from, size_t to, double amp) {
  double s = 0;
  for (size_t f = from; f < to; ++f) s += std::pow(w.at(f, 0) / 32768.0, 2);
  return 20 * std::log10(std::sqrt(s / (to - from)) / (amp / std::sqrt(2)));
}
}  // namespace

TEST_F(Effects, ParamEqDefaultsValidationAndClamp) {
  HSTREAM h = make_stream(22050, 2, -1, noise16);
  HFX fx = BASS_ChannelSetFX(h, BASS_FX_DX8_PARAMEQ, 1);
  ASSERT_NE(fx, 0u);
  BASS_DX8_PARAMEQ p{};
  ASSERT_TRUE(BASS_FXGetParameters(fx, &p));
  EXPECT_EQ(p.fCenter, 22050.f / 3);  // the default 8000 is above a third of 22050
  EXPECT_EQ(p.fBandwidth, 12.f);
  EXPECT_EQ(p.fGain, 0.f);
  BASS_DX8_PARAMEQ good{1000, 6, -3};
  ASSERT_TRUE(BASS_FXSetParameters(fx, &good));
  for (BASS_DX8_PARAMEQ bad :
       {BASS_DX8_PARAMEQ{79, 6, 0}, BASS_DX8_PARAMEQ{16001, 6, 0}, BASS_DX8_PARAMEQ{1000, 0.5f, 0},
        BASS_DX8_PARAMEQ{1000, 37, 0}, BASS_DX8_PARAMEQ{1000, 6, 15.5f}, BASS_DX8_PARAMEQ{1000, 6, NAN}}) {
    EXPECT_FALSE(BASS_FXSetParameters(fx, &bad));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  }
  ASSERT_TRUE(BASS_FXGetParameters(fx, &p));
  EXPECT_EQ(p.fCenter, 1000.f);
  EXPECT_EQ(p.fBandwidth, 6.f);
  EXPECT_EQ(p.fGain, -3.f);
  BASS_DX8_PARAMEQ high{16000, 12, 0};
  ASSERT_TRUE(BASS_FXSetParameters(fx, &high));  // clamped, not refused
  ASSERT_TRUE(BASS_FXGetParameters(fx, &p));
  EXPECT_EQ(p.fCenter, 7350.f);
  EXPECT_EQ(BASS_ChannelSetFX(h, 12345, 0), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
}

TEST_F(Effects, ZeroGainBandPassesTheSoundUntouched) {
  HSTREAM h = make_stream(44100, 2, 4410, noise16);
  for (int band = 1; band <= 10; ++band) ASSERT_NE(BASS_ChannelSetFX(h, BASS_FX_DX8_PARAMEQ, band), 0u);
  play(h, 10);
  Wav w = finish();
  for (int f = 0; f < 4410; ++f) ASSERT_EQ(w.at(f, 0), std::lrint(noise16(f, 0) * 32768)) << f;
}

TEST_F(Effects, PeakingBandFollowsTheClosedForm) {
  const double fs = 44100, amp = 0.1;
  struct Probe {
    double f;
    float gain;
  } probes[] = {{1000, 12}, {1000, -12}, {707.1, 12}, {1414.2, 12}, {8000, 12}};
  for (auto pr : probes) {
    SCOPED_TRACE(pr.f);
    HSTREAM h =
        make_stream(44100, 2, -1, [&](int64_t f, int) { return float(amp * std::sin(2 * M_PI * pr.f * f / fs)); });
    HFX fx = BASS_ChannelSetFX(h, BASS_FX_DX8_PARAMEQ, 0);
    BASS_DX8_PARAMEQ p{1000, 12, pr.gain};
    ASSERT_TRUE(BASS_FXSetParameters(fx, &p));
    play(h, 20);
    ASSERT_TRUE(BASS_StreamFree(h));
  }
  Wav w = finish();
  for (size_t i = 0; i < std::size(probes); ++i) {
    size_t start = i * 8820;
    double got = measured_db(w, start + 4410, start + 8820, amp);
    EXPECT_NEAR(got, peaking_db(1000, 12, probes[i].gain, fs, probes[i].f), 0.05) << probes[i].f;
  }
  // At the centre the gain is the band's gain; an octave each side about half.
  EXPECT_NEAR(peaking_db(1000, 12, 12, fs, 1000), 12, 1e-6);
}

// Attach and remove bands over and over while the audio thread runs them.
TEST_F(Effects, RemovingEffectsWhilePlayingIsSafe) {
  HSTREAM h = make_stream(44100, 2, -1, noise16);
  ASSERT_TRUE(BASS_ChannelPlay(h, 0));
  std::atomic<bool> stop{false};
  std::thread pump([&] {
    while (!stop) tovarin::audio::testing_run_blocks(1);
  });
  for (int i = 0; i < 200; ++i) {
    HFX a = BASS_ChannelSetFX(h, BASS_FX_DX8_PARAMEQ, i % 3);
    HFX b = BASS_ChannelSetFX(h, BASS_FX_DX8_PARAMEQ, 1);
    BASS_DX8_PARAMEQ p{500.f + i, 12, 6};
    ASSERT_TRUE(BASS_FXSetParameters(a, &p));
    ASSERT_TRUE(BASS_ChannelRemoveFX(h, a));
    EXPECT_FALSE(BASS_ChannelRemoveFX(h, a));
    EXPECT_FALSE(BASS_FXSetParameters(a, &p));
    ASSERT_TRUE(BASS_ChannelRemoveFX(h, b));
  }
  stop = true;
  pump.join();
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
}

// A limiter and a fixed gain do not commute: the output tells their order.
TEST_F(Effects, HigherPriorityRunsFirstEqualOnesInAttachOrder) {
  const BASS_DX8_COMPRESSOR limit{0, 0.01f, 50, -20, 100, 0};  // about -19.9 dB out
  const BASS_DX8_COMPRESSOR boost{12, 10, 200, 0, 1, 0};       // x 3.98, linear
  struct Case {
    int limit_priority, boost_priority;
    bool limit_attached_first;
    double expect;
  } cases[] = {
      {2, 1, false, 0.405},  // limit, then boost
      {1, 2, true, 0.103},   // boost, then limit
      {5, 5, true, 0.405},   // equal: attach order
      {5, 5, false, 0.103},
  };
  for (auto& c : cases) {
    HSTREAM h = make_stream(44100, 2, -1, [](int64_t, int) { return 0.5f; });
    HFX a = 0, b = 0;
    for (int i = 0; i < 2; ++i) {
      if ((i == 0) == c.limit_attached_first) {
        a = BASS_ChannelSetFX(h, BASS_FX_DX8_COMPRESSOR, c.limit_priority);
        ASSERT_TRUE(BASS_FXSetParameters(a, &limit));
      } else {
        b = BASS_ChannelSetFX(h, BASS_FX_DX8_COMPRESSOR, c.boost_priority);
        ASSERT_TRUE(BASS_FXSetParameters(b, &boost));
      }
    }
    play(h, 10);
    ASSERT_TRUE(BASS_StreamFree(h));
  }
  Wav w = finish();
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_NEAR(w.at(i * 4410 + 4000, 0) / 32768.0, cases[i].expect, 0.005) << i;
}

// One NaN and one infinity in the stream (as a float file may carry) must
// not stay in any effect: the equalizer's output is the clean one again a
// block later, and no effect sticks at full scale or keeps clicking.
TEST_F(Effects, NonFiniteSamplesDoNotPoisonTheEffects) {
  const int64_t nan_at = 2000, inf_at = 2300, frames = 44100;
  auto clean = [](int64_t f, int c) { return 0.25f * noise16(f, c); };
  auto dirty = [&](int64_t f, int c) {
    return f == nan_at && c == 0 ? NAN : f == inf_at && c == 1 ? INFINITY : clean(f, c);
  };
  const DWORD types[] = {BASS_FX_DX8_PARAMEQ, BASS_FX_DX8_CHORUS,     BASS_FX_DX8_FLANGER,
                         BASS_FX_DX8_ECHO,    BASS_FX_DX8_COMPRESSOR, BASS_FX_DX8_REVERB};
  for (DWORD type : types)
    for (bool poisoned : {false, true}) {
      HSTREAM h = poisoned ? make_stream(44100, 2, frames, dirty) : make_stream(44100, 2, frames, clean);
      HFX fx = BASS_ChannelSetFX(h, type, 0);
      BASS_DX8_PARAMEQ boost{1000, 12, 6};
      if (type == BASS_FX_DX8_PARAMEQ) {
        ASSERT_TRUE(BASS_FXSetParameters(fx, &boost));
      }
      play(h, 100);
      ASSERT_TRUE(BASS_StreamFree(h));
    }
  Wav w = finish();
  ASSERT_TRUE(w.valid);
  for (size_t k = 0; k < std::size(types); ++k) {
    SCOPED_TRACE(types[k]);
    const size_t clean_at = 2 * k * frames, dirty_at = clean_at + frames;
    for (size_t f = size_t(nan_at) + 441; f < size_t(frames); ++f)
      for (int c = 0; c < 2; ++c) {
        int16_t v = w.at(dirty_at + f, c);
        ASSERT_TRUE(v > -32768 && v < 32767) << f;
        if (types[k] == BASS_FX_DX8_PARAMEQ && f >= size_t(inf_at) + 441) {
          ASSERT_NEAR(v, w.at(clean_at + f, c), 1) << f;
        }
      }
  }
}
