// FFT and levels of what is heard, against a naive DFT and closed forms.
#include <chrono>
#include <complex>
#include <thread>

#include "audio/dsp/history.hpp"
#include "test_support.hpp"

using namespace audio_test;

// Allocations made by this thread, counted by the test binary's operator new.
namespace {
thread_local size_t t_allocations = 0;
}
void* operator new(size_t n) {
  ++t_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

using Meters = LibraryTest;

namespace {
// |X[k]| / 256 of the Hann-windowed mono mix, by the definition of the DFT.
std::vector<double> naive_spectrum(const std::vector<double>& mono) {
  const int n = 1024;
  std::vector<double> out(512);
  for (int k = 0; k < 512; ++k) {
    std::complex<double> acc = 0;
    for (int i = 0; i < n; ++i) {
      double w = 0.5 - 0.5 * std::cos(2 * M_PI * i / n);
      acc += mono[i] * w * std::polar(1.0, -2 * M_PI * k * i / n);
    }
    out[k] = std::abs(acc) / 256;
  }
  return out;
}
}  // namespace

TEST_F(Meters, FftOfASineMatchesTheNaiveDft) {
  // Left: amplitude 0.6 on bin 40; right: 0.2 on bin 100.5 (between bins).
  auto gen = [](int64_t f, int c) {
    return c == 0 ? float(0.6 * std::sin(2 * M_PI * 40 * f / 1024.0))
                  : float(0.2 * std::cos(2 * M_PI * 100.5 * f / 1024.0));
  };
  HSTREAM h = make_stream(44100, 2, -1, gen);
  play(h, 7);
  float fft[512];
  ASSERT_EQ(BASS_ChannelGetData(h, fft, BASS_DATA_FFT1024), 2048u);
  int64_t heard = int64_t(BASS_ChannelGetPosition(h, BASS_POS_BYTE) / 4);
  ASSERT_EQ(heard, 7 * 441);
  EXPECT_EQ(BASS_ChannelGetData(h, fft, 12345), DWORD(-1));  // only the FFT is offered
  std::vector<double> mono(1024);
  for (int i = 0; i < 1024; ++i) {
    int64_t f = heard - 1024 + i;
    mono[i] = (double(gen(f, 0)) + gen(f, 1)) / 2;
  }
  auto ref = naive_spectrum(mono);
  for (int k = 0; k < 512; ++k) ASSERT_NEAR(fft[k], ref[k], 1e-5) << k;
  // The documented scale: a sine of amplitude A on a bin centre reads A
  // (here the mono mix halves it).
  EXPECT_NEAR(fft[40], 0.3, 1e-4);
  int peak = 0;
  for (int k = 60; k < 512; ++k)
    if (fft[k] > fft[peak ? peak : 60]) peak = k;
  EXPECT_TRUE(peak == 100 || peak == 101) << peak;
}

TEST_F(Meters, LevelsReadTheSineAmplitudePerSide) {
  auto gen = [](int64_t f, int c) { return float((c ? 0.5 : 0.25) * std::sin(2 * M_PI * 1000 * f / 44100.0)); };
  HSTREAM h = make_stream(44100, 2, -1, gen);
  EXPECT_EQ(BASS_ChannelGetLevel(h), 0u);  // not playing
  play(h, 5);
  DWORD lv = BASS_ChannelGetLevel(h);
  EXPECT_NEAR(double(lv & 0xffff), 0.25 * 32768, 0.25 * 32768 * 0.003);
  EXPECT_NEAR(double(lv >> 16), 0.5 * 32768, 0.5 * 32768 * 0.003);
  ASSERT_TRUE(BASS_ChannelStop(h));
  EXPECT_EQ(BASS_ChannelGetLevel(h), 0u);
}

TEST_F(Meters, MonoLevelIsGivenTwiceAndFullScaleIs32768) {
  HSTREAM h = make_stream(44100, 1, -1, [](int64_t f, int) { return f % 2 ? 1.f : -1.f; });
  play(h, 3);
  EXPECT_EQ(BASS_ChannelGetLevel(h), 32768u | (32768u << 16));
}

// The level covers the last 20 ms only: a loud burst long gone reads 0.
TEST_F(Meters, LevelsForgetWhatIsOlderThan20Ms) {
  HSTREAM h = make_stream(44100, 2, -1, [](int64_t f, int) { return f < 441 ? 0.9f : 0.f; });
  play(h, 2);
  EXPECT_GT(BASS_ChannelGetLevel(h) & 0xffff, 29000u);
  run_blocks(2);
  EXPECT_EQ(BASS_ChannelGetLevel(h), 0u);
}

// The display asks for the FFT and the levels on every tick, and a decoder
// pulls sample data in a loop: none of them may allocate.
TEST_F(Meters, QueriesAllocateNothingPerCall) {
  HSTREAM played = make_stream(48000, 2, -1, noise16);
  HSTREAM pulled = make_stream(44100, 1, -1, noise16, BASS_STREAM_DECODE);
  play(played, 3);
  float fft[512];
  std::vector<uint8_t> data(10000);
  auto all_queries = [&] {
    for (HSTREAM h : {played, pulled}) {
      ASSERT_EQ(BASS_ChannelGetData(h, fft, BASS_DATA_FFT1024), 2048u);
      ASSERT_NE(BASS_ChannelGetLevel(h), DWORD(-1));
    }
    ASSERT_EQ(BASS_ChannelGetData(pulled, data.data(), 10000), 10000u);
    ASSERT_EQ(BASS_ChannelGetData(pulled, data.data(), 10000 | BASS_DATA_FLOAT), 10000u);
  };
  all_queries();
  const size_t before = t_allocations;
  for (int i = 0; i < 10; ++i) all_queries();
  EXPECT_EQ(t_allocations - before, 0u);
}

// On an output with latency the meters look back past what it still holds:
// the window they read ends at the frame being heard (as the position),
// at the source's own rate too.
TEST(MetersLatency, TheWindowEndsAtTheFrameBeingHeard) {
  using tovarin::audio::Channel;
  for (int rate : {44100, 48000}) {
    SCOPED_TRACE(rate);
    const int latency = 2048;  // output frames
    Channel ch(std::make_unique<SynthSource>(rate, 2, -1, [](int64_t f, int c) { return float(f) / 65536 + c; }), 44100,
               latency);
    std::string why;
    ASSERT_TRUE(ch.init(&why)) << why;
    ch.set_state(tovarin::audio::PlayState::Playing);
    std::vector<float> out(441 * 2);
    for (int i = 0; i < 20; ++i) ch.mix_into(out.data(), 441);
    const int64_t heard = ch.heard_frame(latency);  // the next frame to be heard
    std::vector<float> window(882 * 2);
    ch.history().latest(window.data(), 882, ch.unheard_frames(latency));
    // The resampler keeps a few frames of input it has not given out yet.
    const int slack = rate == 44100 ? 0 : 40;
    const int64_t last = int64_t(std::lrint(window[window.size() - 2] * 65536));
    EXPECT_GE(last, heard - 1 - slack);
    EXPECT_LE(last, heard - 1 + slack);
    EXPECT_FLOAT_EQ(window[window.size() - 1] - window[window.size() - 2], 1.f);
  }
}

// Writes of any length, one far longer than the ring among them, leave the
// latest frames readable in order and count every frame.
TEST(MetersHistory, WritesOfAnyLengthKeepTheLatestFrames) {
  tovarin::audio::dsp::History h(2, 44100);
  uint64_t total = 0;
  for (size_t n : {size_t(5000), size_t(70001), size_t(100), size_t(3)}) {
    std::vector<float> block(n * 2);
    for (size_t i = 0; i < n; ++i) block[2 * i] = block[2 * i + 1] = float(total + i);
    h.write(block.data(), n);
    total += n;
    std::vector<float> window(882 * 2);
    h.latest(window.data(), 882);
    for (size_t i = 0; i < 882; ++i) ASSERT_EQ(window[2 * i + 1], float(total - 882 + i)) << n;
  }
  EXPECT_EQ(h.written(), total);
}

TEST(MetersCpu, CpuIsASmallPercentWhilePlaying) {
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
  HSTREAM h = make_stream(48000, 2, -1, noise16);
  ASSERT_TRUE(BASS_ChannelPlay(h, 0));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  float cpu = BASS_GetCPU();
  EXPECT_GT(cpu, 0.f);
  EXPECT_LT(cpu, 100.f);
  ASSERT_TRUE(BASS_Free());
}
