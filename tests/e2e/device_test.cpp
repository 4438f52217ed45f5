// Devices that come and go: the null sink of a private PulseAudio server is
// unloaded under a playing stream and under a running capture, then loaded
// again. Playback and capture must go on (silently) while there is no
// device, with positions and buffers counting in real time, and come back to
// the device once it is there again.
#include <algorithm>

#include "common/wav.hpp"
#include "pulse_session.hpp"

namespace {

using namespace pulse_session;
using namespace std::chrono_literals;

constexpr int kRate = 44100;
constexpr double kToneHz = 1000;  // a whole number of cycles in 0.1 s at 44.1 and 48 kHz
constexpr double kToneAmplitude = 0.5;

// The tone on both sides.
std::vector<int16_t> stereo_tone(double seconds) {
  return pulse_session::stereo_tone(kRate, seconds, {kToneHz, kToneAmplitude}, {kToneHz, kToneAmplitude});
}

// Amplitude of the tone in the last 0.1 s of x (one channel, full scale 1):
// a DFT over a whole number of cycles.
double tone_amplitude(const std::vector<double>& x, int rate) {
  const size_t n = static_cast<size_t>(rate / 10);
  if (x.size() < n) return 0;
  double re = 0, im = 0;
  for (size_t i = 0; i < n; ++i) {
    const double phase = 2 * std::numbers::pi * kToneHz * static_cast<double>(i) / rate;
    re += x[x.size() - n + i] * std::cos(phase);
    im += x[x.size() - n + i] * std::sin(phase);
  }
  return 2 * std::hypot(re, im) / static_cast<double>(n);
}

// The left channel of the last 0.1 s that parec wrote (stereo float32).
std::vector<double> last_of_recording(const std::string& path, int rate) {
  const size_t frames = static_cast<size_t>(rate / 10);
  std::ifstream in(path, std::ios::binary);
  const size_t have = file_size(path) / 8;
  if (have < frames) return {};
  in.seekg(static_cast<std::streamoff>((have - frames) * 8));
  std::vector<double> x;
  float f[2];
  while (x.size() < frames && in.read(reinterpret_cast<char*>(f), sizeof f)) x.push_back(f[0]);
  return x;
}

class DeviceLoss : public PulseSession {
 protected:
  // Unloads the null sink `name` (and its monitor source).
  void unload_sink(const std::string& name) {
    ASSERT_EQ(run({"pactl", "list", "short", "modules"}, "modules"), 0) << log_of("modules");
    std::istringstream modules(read_text(path("modules.out")));
    std::string line, index;
    while (std::getline(modules, line))
      if (line.find("module-null-sink") != std::string::npos &&
          (line + " ").find("sink_name=" + name + " ") != std::string::npos)
        index = line.substr(0, line.find('\t'));
    ASSERT_FALSE(index.empty()) << "no module for sink " << name;
    ASSERT_EQ(run({"pactl", "unload-module", index}, "unload"), 0) << log_of("unload");
  }
  // A null sink as the session makes them, with a steady stream of silence
  // so that it does not hold up new streams.
  void load_sink(const std::string& name) {
    ASSERT_EQ(run({"pactl", "load-module", "module-null-sink", "sink_name=" + name, "rate=" + std::to_string(kSinkRate),
                   "channels=2"},
                  "load"),
              0)
        << log_of("load");
    ASSERT_TRUE(
        spawn({"pacat", "--playback", "-d", name, "--latency-msec=20", "--raw", "/dev/zero"}, "keepalive-" + name)
            .started());
  }
  // Waits (bounded) until the tone sounds at `sink`'s monitor; its amplitude
  // then, 0 when it never came.
  double hear_at(const std::string& sink) {
    const std::string rec = path("parec-" + sink + ".out");
    if (!record_monitor(sink, kSinkRate, 20, "parec-" + sink).started()) return 0;
    double heard = 0;
    wait_for(
        [&] {
          poll_position();
          heard = tone_amplitude(last_of_recording(rec, kSinkRate), kSinkRate);
          return heard > 0.8 * kToneAmplitude;
        },
        8s);
    return heard > 0.8 * kToneAmplitude ? heard : 0;
  }

  // A 60 s tone playing on the default output, 0.3 s into it.
  void play_tone() {
    const std::string media = path("tone.wav");
    ASSERT_TRUE(testwav::write(media, kRate, 2, stereo_tone(60)));
    ASSERT_TRUE(BASS_Init(-1, kRate, 0, 0, nullptr)) << BASS_ErrorGetCode();
    stream_ = BASS_StreamCreateFile(0, media.c_str(), 0, 0, 0);
    ASSERT_NE(stream_, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(stream_, 0));
    ASSERT_TRUE(wait_for([&] { return poll_position() > 0.3; }, 10s)) << "the stream did not start playing";
  }

  // The playing stream's position, seconds; each reading is compared with
  // the one before, so that a step back shows whenever it happens.
  double poll_position() {
    if (!stream_) return 0;
    const double p = BASS_ChannelBytes2Seconds(stream_, BASS_ChannelGetPosition(stream_, BASS_POS_BYTE));
    if (p < last_position_) stepped_back_ = std::max(stepped_back_, last_position_ - p);
    last_position_ = p;
    return p;
  }

  HSTREAM stream_ = 0;
  double last_position_ = 0;
  double stepped_back_ = 0;  // the largest step back seen
};

TEST_F(DeviceLoss, PlaybackMovesToTheNewDefaultGoesOnWithoutASinkAndReturns) {
  load_sink("othersink");
  play_tone();
  if (HasFatalFailure()) return;
  const HSTREAM stream = stream_;

  // The default sink goes: the other one becomes the default and plays.
  unload_sink("testsink");
  const double on_other = hear_at("othersink");
  EXPECT_GT(on_other, 0) << "the tone did not move to the new default sink";

  // No sink at all: the position keeps counting, and never faster than
  // real time (the clock is read before the first position and after the
  // last, so a slow machine only widens the margin).
  unload_sink("othersink");
  const auto lost_clock = Clock::now();
  const double lost_at = poll_position();
  EXPECT_TRUE(wait_for([&] { return poll_position() >= lost_at + 1.5; }, 20s))
      << "the position stalled while there was no sink";
  const double last = poll_position();
  const double elapsed = std::chrono::duration<double>(Clock::now() - lost_clock).count();
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_PLAYING);
  EXPECT_LE(last - lost_at, elapsed + 0.25) << "the position jumped while there was no sink";

  // A sink again: the tone reaches it.
  load_sink("testsink");
  const double back = hear_at("testsink");
  EXPECT_GT(back, 0) << "the tone did not come back to the sink";
  for (int i = 0; i < 10; ++i, std::this_thread::sleep_for(20ms)) poll_position();
  EXPECT_EQ(stepped_back_, 0) << "the position stepped back";
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_PLAYING);
  std::printf(
      "[device] playback: tone at the new default %.3f; %.3f s counted in %.3f s without a sink; "
      "tone back at %.3f; largest step back %.3f s\n",
      on_other, last - lost_at, elapsed, back, stepped_back_);
}

// The output closes its device when nothing has played for a while; a play
// opens it again at once, and the position goes on from where it paused.
TEST_F(DeviceLoss, PlaybackClosedWhileIdlePlaysAgainAtOnceWhereItPaused) {
  play_tone();
  if (HasFatalFailure()) return;
  const HSTREAM stream = stream_;
  // Streams playing on the server: the keep-alive's and ours while open.
  auto streams_on_server = [&] {
    if (run({"pactl", "list", "short", "sink-inputs"}, "inputs") != 0) return -1L;
    const std::string text = read_text(path("inputs.out"));
    return static_cast<long>(std::count(text.begin(), text.end(), '\n'));
  };
  ASSERT_TRUE(wait_for([&] { return streams_on_server() == 2; }, 10s));

  ASSERT_TRUE(BASS_ChannelPause(stream));
  const double paused_at = poll_position();
  ASSERT_TRUE(wait_for([&] { return streams_on_server() == 1; }, 10s)) << "the device stayed open while idle";
  const double closed_at = poll_position();
  // Once closed, the device holds nothing unheard: at most its last blocks.
  EXPECT_NEAR(closed_at, paused_at, 0.05);

  const auto play_clock = Clock::now();
  ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
  wait_for([&] { return poll_position() > closed_at; }, 10s);
  const double restarted_after = std::chrono::duration<double>(Clock::now() - play_clock).count();
  const double heard = hear_at("testsink");
  EXPECT_GT(heard, 0) << "the tone did not come back";
  const double last = poll_position();
  const double elapsed = std::chrono::duration<double>(Clock::now() - play_clock).count();
  EXPECT_GT(last, closed_at) << "the position did not go on";
  EXPECT_LE(last - closed_at, elapsed + 0.05) << "the position ran ahead of what was heard";
  EXPECT_EQ(stepped_back_, 0) << "the position stepped back";
  std::printf("[device] idle close: paused at %.3f s, %.3f s once closed; playing again after %.3f s, tone %.3f\n",
              paused_at, closed_at, restarted_after, heard);
}

TEST_F(DeviceLoss, CaptureGoesOnWithoutTheSourceAndReturnsToIt) {
  const std::string media = path("tone.raw");
  ASSERT_TRUE(write_raw(media, stereo_tone(20)));
  ASSERT_TRUE(BASS_RecordInit(-1)) << BASS_ErrorGetCode();
  Captured cap;
  const HRECORD rec = BASS_RecordStart(kRate, 2, 0, &collect, &cap);
  ASSERT_NE(rec, 0u) << BASS_ErrorGetCode();
  ASSERT_TRUE(wait_for([&] { return cap.frames >= static_cast<size_t>(kRate / 2); }, 10s));

  // The monitor source goes with the sink: buffers of silence keep coming.
  unload_sink("testsink");
  const auto lost_clock = Clock::now();
  const size_t lost_frames = cap.frames;
  EXPECT_TRUE(wait_for([&] { return cap.frames >= lost_frames + static_cast<size_t>(kRate) * 3 / 2; }, 20s))
      << "the capture stopped delivering when its source went";
  const double delivered = static_cast<double>(cap.frames - lost_frames) / kRate;
  const double elapsed = std::chrono::duration<double>(Clock::now() - lost_clock).count();
  EXPECT_LE(delivered, elapsed + 0.3) << "the capture delivered faster than real time";

  // The source is back: a tone played into the sink reaches the callback.
  load_sink("testsink");
  ASSERT_TRUE(spawn({"pacat", "--playback", "-d", "testsink", "--raw", "--format=s16le",
                     "--rate=" + std::to_string(kRate), "--channels=2", media},
                    "pacat")
                  .started());
  double heard = 0;
  const bool back = wait_for(
      [&] {
        std::lock_guard lock(cap.mu);
        std::vector<double> left;  // the last 0.1 s
        for (size_t i = cap.samples.size() - std::min<size_t>(cap.samples.size(), kRate / 10 * 2);
             i < cap.samples.size(); i += 2)
          left.push_back(cap.samples[i] / 32768.0);
        heard = tone_amplitude(left, kRate);
        return heard > 0.8 * kToneAmplitude;
      },
      8s);
  EXPECT_TRUE(back) << "the capture did not return to the source (amplitude " << heard << ") " << log_of("pacat");
  ASSERT_TRUE(BASS_ChannelStop(rec));
  const size_t at_stop = cap.frames;
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(cap.frames, at_stop) << "the callback ran after BASS_ChannelStop returned";
  EXPECT_FALSE(cap.odd_length);
  std::printf("[device] capture: %.3f s delivered in %.3f s without a source; tone back at amplitude %.3f\n", delivered,
              elapsed, heard);
}

}  // namespace
