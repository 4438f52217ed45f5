// Capture from the wav: and null inputs, as the recorder uses it.
#include <chrono>
#include <mutex>
#include <thread>

#include "test_support.hpp"

using namespace audio_test;

namespace {

struct Collector {
  std::mutex mu;
  std::vector<int16_t> samples;
  int calls = 0;
  int stop_after = -1;  // calls before answering "stop"
  static BOOL proc(HRECORD, const void* buf, DWORD len, void* user) {
    auto* self = static_cast<Collector*>(user);
    std::lock_guard lock(self->mu);
    auto* s = static_cast<const int16_t*>(buf);
    self->samples.insert(self->samples.end(), s, s + len / 2);
    ++self->calls;
    return self->stop_after < 0 || self->calls < self->stop_after;
  }
  size_t size() {
    std::lock_guard lock(mu);
    return samples.size();
  }
  // Waits (generously) until n samples have arrived.
  bool wait_for(size_t n) {
    for (int i = 0; i < 400 && size() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    return size() >= n;
  }
};

class Capture : public ::testing::Test {
 protected:
  void TearDown() override {
    BASS_RecordFree();
    unsetenv("TOVARIN_AUDIO_INPUT");
  }
  std::string make_media(const std::string& format, const std::string& effects) {
    const std::string path = temp_file("capture-" + std::to_string(made_++) + ".wav");
    std::string cmd = "sox -n " + format + " " + path + " " + effects + " 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return path;
  }
  int made_ = 0;
};

}  // namespace

TEST_F(Capture, WavInputDeliversTheFileThenSilenceAndStopIsFinal) {
  std::string file = make_media("-r 44100 -c 2 -b 16", "synth 0.3 whitenoise vol 0.5");
  Wav src = read_wav(file);
  ASSERT_TRUE(src.valid);
  setenv("TOVARIN_AUDIO_INPUT", ("wav:" + file).c_str(), 1);
  ASSERT_TRUE(BASS_RecordInit(-1));
  EXPECT_FALSE(BASS_RecordInit(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  ASSERT_NE(BASS_RecordGetInputName(0), nullptr);
  EXPECT_EQ(BASS_RecordGetInputName(1), nullptr);
  Collector got;
  HRECORD h = BASS_RecordStart(44100, 2, 0, &Collector::proc, &got);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
  ASSERT_TRUE(got.wait_for(src.samples.size() + 44100 / 10 * 2));
  ASSERT_TRUE(BASS_ChannelStop(h));
  size_t after_stop = got.size();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(got.size(), after_stop);  // never called again
  EXPECT_FALSE(BASS_ChannelStop(h));
  std::lock_guard lock(got.mu);
  size_t mismatches = 0;
  for (size_t i = 0; i < src.samples.size(); ++i) mismatches += got.samples[i] != src.samples[i];
  EXPECT_EQ(mismatches, 0u);
  for (size_t i = src.samples.size(); i < got.samples.size(); ++i) ASSERT_EQ(got.samples[i], 0) << i;
}

TEST_F(Capture, InputVolumeScalesAndFormatIsConverted) {
  std::string file = make_media("-r 48000 -c 2 -b 16", "synth 0.5 sine 1000 vol 0.5");
  setenv("TOVARIN_AUDIO_INPUT", ("wav:" + file).c_str(), 1);
  ASSERT_TRUE(BASS_RecordInit(-1));
  ASSERT_TRUE(BASS_RecordSetInput(0, 0, 0.5f));
  EXPECT_FALSE(BASS_RecordSetInput(5, 0, 0.5f));
  Collector got;
  HRECORD h = BASS_RecordStart(22050, 1, 0, &Collector::proc, &got);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(got.wait_for(22050 / 2));
  ASSERT_TRUE(BASS_ChannelStop(h));
  std::lock_guard lock(got.mu);
  // Mono at 22050 Hz: a 1 kHz sine of amplitude 0.5 x 0.5 (the mix-down of
  // two equal channels keeps the level).
  double sxy = 0, sxx = 0, syy = 0;
  int16_t peak = 0;
  double best = 0;
  for (int lag = 0; lag < 22; ++lag) {
    sxy = sxx = syy = 0;
    for (int n = 2000; n < 10000; ++n) {
      double x = got.samples[n], y = std::sin(2 * M_PI * 1000 * (n - lag) / 22050.0);
      sxy += x * y, sxx += x * x, syy += y * y;
    }
    best = std::max(best, std::fabs(sxy) / std::sqrt(sxx * syy));
  }
  for (int n = 2000; n < 10000; ++n) peak = std::max<int16_t>(peak, got.samples[n]);
  EXPECT_GT(best, 0.999);
  EXPECT_NEAR(peak / 32768.0, 0.25, 0.01);
}

TEST_F(Capture, NullInputRecordsSilenceAndACallbackCanStopIt) {
  setenv("TOVARIN_AUDIO_INPUT", "null", 1);
  ASSERT_TRUE(BASS_RecordInit(-1));
  Collector got;
  got.stop_after = 3;
  HRECORD h = BASS_RecordStart(8000, 1, 0, &Collector::proc, &got);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(got.wait_for(240));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(got.calls, 3);
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  for (int16_t s : got.samples) ASSERT_EQ(s, 0);
  ASSERT_TRUE(BASS_RecordFree());
  EXPECT_FALSE(BASS_ChannelStop(h));  // stale after the device went
  EXPECT_EQ(BASS_RecordGetInputName(0), nullptr);
  EXPECT_EQ(BASS_RecordStart(8000, 1, 0, &Collector::proc, &got), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

// A callback may stop its own recording; it is not called again afterwards.
TEST_F(Capture, ACallbackCanStopItsOwnRecordingWithBassChannelStop) {
  setenv("TOVARIN_AUDIO_INPUT", "null", 1);
  ASSERT_TRUE(BASS_RecordInit(-1));
  struct SelfStop {
    std::atomic<int> calls{0};
    std::atomic<int> stop_result{-1};
    static BOOL proc(HRECORD handle, const void*, DWORD, void* user) {
      auto* self = static_cast<SelfStop*>(user);
      if (++self->calls == 2) self->stop_result = BASS_ChannelStop(handle);
      return 1;
    }
  } got;
  HRECORD h = BASS_RecordStart(8000, 1, 0, &SelfStop::proc, &got);
  ASSERT_NE(h, 0u);
  for (int i = 0; i < 400 && got.stop_result < 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_EQ(got.stop_result, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(got.calls, 2);
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  EXPECT_FALSE(BASS_ChannelStop(h));  // already stopped and freed
  ASSERT_TRUE(BASS_RecordFree());
}

TEST_F(Capture, AutoFallsBackToSilenceWithoutADevice) {
  setenv("TOVARIN_AUDIO_INPUT", "auto", 1);
  ASSERT_TRUE(BASS_RecordInit(-1));
  ASSERT_NE(BASS_RecordGetInputName(0), nullptr);
  Collector got;
  HRECORD h = BASS_RecordStart(44100, 2, 0, &Collector::proc, &got);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(got.wait_for(882));
  ASSERT_TRUE(BASS_ChannelStop(h));
  setenv("TOVARIN_AUDIO_INPUT", "wav:/nonexistent.wav", 1);
  ASSERT_TRUE(BASS_RecordFree());
  EXPECT_FALSE(BASS_RecordInit(-1));
}
