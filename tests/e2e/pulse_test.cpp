// The audio library's default ("auto") output and capture against a real
// sound server: a private PulseAudio with a null sink, started per test by
// scripts/pulse-session.sh. The server's own tools (parec, pacat) are the
// other end, and the tones are measured here with a windowed DFT.
//
// The null sink runs at 48 kHz while the library plays and records at
// 44.1 kHz, so the server resamples both ways, as on most desktops.
#include <SDL2/SDL.h>

#include <algorithm>

#include "common/wav.hpp"
#include "pulse_session.hpp"

namespace {

using namespace pulse_session;
constexpr int kPlayRate = 44100;

// ---- measuring -------------------------------------------------------------

// One channel of sound, full scale 1.
struct Signal {
  std::vector<double> x;
  int rate = 0;
  size_t frames(double seconds) const { return static_cast<size_t>(seconds * rate); }
};

// Interleaved stereo samples, each times `scale`, as its two channels.
template <class T>
std::pair<Signal, Signal> split_stereo(const std::vector<T>& s, int rate, double scale) {
  Signal l{{}, rate}, r{{}, rate};
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    l.x.push_back(s[i] * scale);
    r.x.push_back(s[i + 1] * scale);
  }
  return {l, r};
}

// A recording of interleaved stereo float32 from frame `from` on; frame i of
// the result is frame from + i of the file.
std::pair<Signal, Signal> split_stereo_float(const std::string& path, int rate, size_t from = 0) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(from * 8));
  std::vector<float> raw;
  for (float f; in.read(reinterpret_cast<char*>(&f), sizeof f);) raw.push_back(f);
  return split_stereo(raw, rate, 1);
}

const std::vector<double>& hann(size_t n) {
  static std::map<size_t, std::vector<double>> cache;
  auto& w = cache[n];
  if (w.empty()) {
    w.resize(n);
    for (size_t i = 0; i < n; ++i) w[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / (n - 1));
  }
  return w;
}

// Amplitude of the component at `freq` in x[begin, end): Hann-windowed DFT
// at that one frequency, scaled so that a sine of amplitude A reads A.
double amplitude_at(const Signal& s, size_t begin, size_t end, double freq) {
  end = std::min(end, s.x.size());
  if (end <= begin + 1) return 0;
  const size_t n = end - begin;
  const std::vector<double>& w = hann(n);
  // The reference phasor turns by one sample's angle per step.
  const double step = 2 * std::numbers::pi * freq / s.rate;
  const double rot_re = std::cos(step), rot_im = -std::sin(step);
  double p_re = 1, p_im = 0, re = 0, im = 0, wsum = 0;
  for (size_t i = 0; i < n; ++i) {
    const double v = w[i] * s.x[begin + i];
    re += v * p_re;
    im += v * p_im;
    wsum += w[i];
    const double t = p_re * rot_re - p_im * rot_im;
    p_im = p_re * rot_im + p_im * rot_re;
    p_re = t;
  }
  return 2 * std::hypot(re, im) / wsum;
}

// The frequency in [lo, hi] with the largest component, in steps of `step` Hz.
double peak_frequency(const Signal& s, size_t begin, size_t end, double lo, double hi, double step) {
  double best_f = lo, best_a = -1;
  for (double f = lo; f <= hi; f += step) {
    const double a = amplitude_at(s, begin, end, f);
    if (a > best_a) best_a = a, best_f = f;
  }
  return best_f;
}

double rms(const Signal& s, size_t begin, size_t end) {
  end = std::min(end, s.x.size());
  if (end <= begin) return 0;
  double sum = 0;
  for (size_t i = begin; i < end; ++i) sum += s.x[i] * s.x[i];
  return std::sqrt(sum / (end - begin));
}

// `measure` over consecutive blocks of [begin, end).
std::vector<double> per_block(const Signal& s, size_t begin, size_t end, double block_seconds,
                              const std::function<double(size_t, size_t)>& measure) {
  const size_t block = s.frames(block_seconds);
  std::vector<double> v;
  for (size_t b = begin; b + block <= std::min(end, s.x.size()); b += block) v.push_back(measure(b, b + block));
  return v;
}

// The median: a steady figure that one dropout (a starved client on a busy
// machine) does not move.
double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// How the tone at `freq` sounds in [begin, end), each figure the median over
// blocks.
struct ToneMeasure {
  double freq;       // peak frequency, Hz (0.5 s blocks, 0.25 Hz steps)
  double amplitude;  // full scale 1 (0.1 s blocks)
  double purity;     // RMS x sqrt(2) / amplitude: 1 for a clean sine
  double weakest;    // the weakest 0.1 s block's amplitude (a dropout)
  size_t blocks;
};

ToneMeasure measure_tone(const Signal& s, size_t begin, size_t end, double freq) {
  ToneMeasure m{};
  m.freq = median(per_block(s, begin, end, 0.5,
                            [&](size_t b, size_t e) { return peak_frequency(s, b, e, freq - 50, freq + 50, 0.25); }));
  const auto amps = per_block(s, begin, end, 0.1, [&](size_t b, size_t e) { return amplitude_at(s, b, e, freq); });
  m.amplitude = median(amps);
  m.weakest = amps.empty() ? 0 : *std::min_element(amps.begin(), amps.end());
  m.blocks = amps.size();
  m.purity = median(per_block(s, begin, end, 0.1, [&](size_t b, size_t e) {
    const double a = amplitude_at(s, b, e, freq);
    return a > 0 ? rms(s, b, e) * std::numbers::sqrt2 / a : 0;
  }));
  return m;
}

// First block of `block_seconds` from `from` on where the tone reaches
// `threshold`.
std::optional<size_t> tone_onset(const Signal& s, size_t from, double freq, double threshold,
                                 double block_seconds = 0.05) {
  const size_t block = s.frames(block_seconds);
  for (size_t b = from; b + block <= s.x.size(); b += block)
    if (amplitude_at(s, b, b + block, freq) >= threshold) return b;
  return std::nullopt;
}

// The end of the last block from `from` on where the tone reaches
// `threshold`.
std::optional<size_t> tone_offset(const Signal& s, size_t from, double freq, double threshold, double block_seconds) {
  const size_t block = s.frames(block_seconds);
  std::optional<size_t> last;
  for (size_t b = from; b + block <= s.x.size(); b += block)
    if (amplitude_at(s, b, b + block, freq) >= threshold) last = b + block;
  return last;
}

// ---- the session -----------------------------------------------------------

using PulseServer = PulseSession;

std::string sdl_driver() {
  const char* d = SDL_GetCurrentAudioDriver();
  return d ? d : "(none)";
}

// ---- playback --------------------------------------------------------------

TEST_F(PulseServer, DefaultOutputReachesTheServerWithTheRightToneAndVolumeHalvesIt) {
  const Tone left{997, 0.5}, right{1499, 0.3};
  const std::string media = path("tone.wav");
  ASSERT_TRUE(testwav::write(media, kPlayRate, 2, stereo_tone(kPlayRate, 30, left, right)));

  // The server's own recorder on the sink's monitor, at the sink's rate.
  const std::string rec = path("parec.out");
  Child& parec = record_monitor("testsink", kSinkRate, 20, "parec");
  ASSERT_TRUE(parec.started());
  // The keepalive's silence flows into the monitor, so data means connected.
  ASSERT_TRUE(wait_for([&] { return file_size(rec) > 0; })) << log_of("parec");
  const auto recorded_frames = [&] { return file_size(rec) / 8; };

  ASSERT_TRUE(BASS_Init(-1, kPlayRate, 0, 0, nullptr)) << BASS_ErrorGetCode();
  const std::string driver = sdl_driver();
  SCOPED_TRACE("SDL audio driver: " + driver);
  const HSTREAM stream = BASS_StreamCreateFile(0, media.c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
  const size_t play_mark = recorded_frames();
  ASSERT_TRUE(BASS_ChannelPlay(stream, 0));

  // The recording is the clock: wait for the tone to show up in it, let it
  // run 2.5 s at full volume, then 3.5 s at half volume.
  const auto sink_frames = [](double seconds) { return static_cast<size_t>(seconds * kSinkRate); };
  std::optional<size_t> onset;
  const bool heard = wait_for([&] {
    const auto [l, r] = split_stereo_float(rec, kSinkRate, play_mark);
    if (auto at = tone_onset(l, 0, left.freq, 0.1)) onset = play_mark + *at;
    return onset.has_value();
  });
  ASSERT_TRUE(heard) << "no tone reached the sink's monitor (output fell back to silence?) " << log_of("parec");
  ASSERT_TRUE(wait_for([&] { return recorded_frames() >= *onset + sink_frames(2.5); }));
  const size_t volume_mark = recorded_frames();
  ASSERT_TRUE(BASS_ChannelSetAttribute(stream, BASS_ATTRIB_VOL, 0.5f));
  ASSERT_TRUE(wait_for([&] { return recorded_frames() >= volume_mark + sink_frames(3.5); }));
  const size_t stop_mark = recorded_frames();
  ASSERT_TRUE(BASS_ChannelStop(stream));
  ASSERT_TRUE(BASS_Free());
  parec.end();

  const auto [l, r] = split_stereo_float(rec, kSinkRate);
  ASSERT_GE(l.x.size(), stop_mark);

  // Full volume: from just after the onset to the moment the volume changed
  // (the change cannot be in the recording before it was made).
  const size_t full_begin = *onset + l.frames(0.3), full_end = volume_mark;
  // Half volume: from 1 s after the change (far more than the output's
  // latency) to the moment the channel was stopped.
  const size_t half_begin = volume_mark + l.frames(1.0), half_end = stop_mark;
  ASSERT_GT(full_end, full_begin + l.frames(1.5));
  ASSERT_GT(half_end, half_begin + l.frames(1.5));

  const ToneMeasure full_l = measure_tone(l, full_begin, full_end, left.freq);
  const ToneMeasure full_r = measure_tone(r, full_begin, full_end, right.freq);
  const ToneMeasure half_l = measure_tone(l, half_begin, half_end, left.freq);
  const ToneMeasure half_r = measure_tone(r, half_begin, half_end, right.freq);
  // Each channel's tone must not leak into the other.
  const double cross_l = median(
      per_block(l, full_begin, full_end, 0.1, [&](size_t b, size_t e) { return amplitude_at(l, b, e, right.freq); }));
  const double cross_r = median(
      per_block(r, full_begin, full_end, 0.1, [&](size_t b, size_t e) { return amplitude_at(r, b, e, left.freq); }));
  std::printf(
      "[pulse] output (driver %s): left %.2f Hz %.5f -> %.5f (x%.5f), right %.2f Hz %.5f -> %.5f (x%.5f); "
      "rms/tone %.5f %.5f; crosstalk %.5f %.5f; weakest of %zu blocks %.5f; onset %.2f s after play\n",
      driver.c_str(), full_l.freq, full_l.amplitude, half_l.amplitude, half_l.amplitude / full_l.amplitude, full_r.freq,
      full_r.amplitude, half_r.amplitude, half_r.amplitude / full_r.amplitude, full_l.purity, full_r.purity, cross_l,
      cross_r, full_l.blocks, full_l.weakest, static_cast<double>(*onset - play_mark) / kSinkRate);

  EXPECT_NEAR(full_l.freq, left.freq, 1.0);
  EXPECT_NEAR(full_r.freq, right.freq, 1.0);
  EXPECT_NEAR(full_l.amplitude, left.amplitude, 0.05 * left.amplitude);
  EXPECT_NEAR(full_r.amplitude, right.amplitude, 0.05 * right.amplitude);
  EXPECT_NEAR(half_l.amplitude / full_l.amplitude, 0.5, 0.02);
  EXPECT_NEAR(half_r.amplitude / full_r.amplitude, 0.5, 0.02);
  EXPECT_NEAR(half_l.freq, left.freq, 1.0);
  EXPECT_NEAR(full_l.purity, 1.0, 0.02);
  EXPECT_NEAR(full_r.purity, 1.0, 0.02);
  EXPECT_LT(cross_l, 0.005);
  EXPECT_LT(cross_r, 0.005);
}

// What is seen is what is heard: after a second of silence a tone starts,
// and the level meter shows it when the position (the sample being heard,
// by the latency the output reports) reaches the tone, not when the mixer
// took it: every level read next to a position agrees with it. Against the
// sink's monitor the test only reports: the recorder's file is the sink's
// clock, its growth sampled with the meter, so the moment the onset had been
// delivered is known to a few milliseconds; how close the meter comes to it
// depends on how true the reported latency is.
TEST_F(PulseServer, LevelsShowAToneWhenItIsHeard) {
  const Tone tone{997, 0.5};
  std::vector<int16_t> samples(static_cast<size_t>(kPlayRate) * 2, 0);  // 1 s of silence
  const auto sound = stereo_tone(kPlayRate, 3, tone, tone);
  samples.insert(samples.end(), sound.begin(), sound.end());
  const std::string media = path("late-tone.wav");
  ASSERT_TRUE(testwav::write(media, kPlayRate, 2, samples));

  const std::string rec = path("parec.out");
  Child& parec = record_monitor("testsink", kSinkRate, 2, "parec");
  ASSERT_TRUE(parec.started());
  ASSERT_TRUE(wait_for([&] { return file_size(rec) > 0; })) << log_of("parec");

  ASSERT_TRUE(BASS_Init(-1, kPlayRate, 0, 0, nullptr)) << BASS_ErrorGetCode();
  const HSTREAM stream = BASS_StreamCreateFile(0, media.c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
  const size_t play_mark = file_size(rec) / 8;
  ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
  struct Sample {
    Clock::time_point t;
    size_t frames;  // the recorder's file
    QWORD pos;      // bytes heard
    bool loud;      // the level shows the tone
  };
  const QWORD onset_bytes = QWORD(kPlayRate) * 4, ms_bytes = QWORD(kPlayRate) / 1000 * 4;
  std::vector<Sample> grown;
  // Until 300 ms of the tone were heard and the recorder had time to
  // deliver its onset (a busy server may start the stream late), bounded.
  const auto limit = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < limit && (grown.empty() || grown.back().pos < onset_bytes + 300 * ms_bytes)) {
    const DWORD level = BASS_ChannelGetLevel(stream);
    const QWORD pos = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
    grown.push_back({Clock::now(), file_size(rec) / 8, pos == QWORD(-1) ? 0 : pos,
                     level != DWORD(-1) && (level & 0xffff) > 0.25 * 32768});
    std::this_thread::sleep_for(std::chrono::microseconds(250));
  }
  ASSERT_TRUE(BASS_Free());
  parec.end();
  ASSERT_GE(grown.back().pos, onset_bytes + 300 * ms_bytes) << "the position never passed the tone's start";

  // The level covers the last 20 ms up to the sample heard: it shows the
  // tone from the onset on, and not before. The two reads are not one: 5 ms
  // of slack. (Before, the level ran the whole latency, 46 ms here, ahead.)
  const auto seen = std::find_if(grown.begin(), grown.end(), [](const Sample& x) { return x.loud; });
  const auto reached = std::find_if(grown.begin(), grown.end(), [&](const Sample& x) { return x.pos >= onset_bytes; });
  ASSERT_NE(seen, grown.end()) << "the level never showed the tone";
  for (const Sample& x : grown) {
    if (x.loud) {
      EXPECT_GE(x.pos + 5 * ms_bytes, onset_bytes) << "loud at byte " << x.pos;
    }
    if (x.pos >= onset_bytes + 5 * ms_bytes) {
      EXPECT_TRUE(x.loud) << "quiet at byte " << x.pos;
    }
  }

  const auto [l, r] = split_stereo_float(rec, kSinkRate, play_mark);
  size_t onset = 0;
  while (onset < l.x.size() && std::fabs(l.x[onset]) < 0.1) ++onset;
  ASSERT_LT(onset, l.x.size()) << "no tone reached the sink's monitor";
  onset += play_mark;
  auto delivered = std::find_if(grown.begin(), grown.end(), [&](const Sample& x) { return x.frames > onset; });
  const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  // Reported, not decided: how close the meter comes to the sink's clock.
  std::printf(
      "[pulse] the level showed the tone %.1f ms after the position reached it, %.1f ms before the "
      "sink's recorder delivered it\n",
      ms(seen->t - reached->t), delivered == grown.end() ? -1.0 : ms(delivered->t - seen->t));
}

// ---- capture ---------------------------------------------------------------

TEST_F(PulseServer, DefaultCaptureRecordsTheMonitorOfTheDefaultSink) {
  const Tone left{660, 0.4}, right{1320, 0.2};
  const std::string media = path("tone.raw");
  ASSERT_TRUE(write_raw(media, stereo_tone(kPlayRate, 4, left, right)));

  ASSERT_TRUE(BASS_RecordInit(-1)) << BASS_ErrorGetCode();
  const std::string driver = sdl_driver();
  SCOPED_TRACE("SDL audio driver: " + driver);
  Captured cap;
  const HRECORD rec = BASS_RecordStart(kPlayRate, 2, 0, &collect, &cap);
  ASSERT_NE(rec, 0u) << BASS_ErrorGetCode();
  ASSERT_TRUE(wait_for([&] { return cap.frames >= static_cast<size_t>(kPlayRate / 2); }))
      << "the capture callback delivered " << cap.frames << " frames";

  const size_t play_mark = cap.frames;
  Child& pacat = spawn(
      {"pacat", "--playback", "--raw", "--format=s16le", "--rate=" + std::to_string(kPlayRate), "--channels=2", media},
      "pacat");
  ASSERT_TRUE(pacat.started());
  const auto exit = pacat.wait_exit(kWaitLimit);
  ASSERT_TRUE(exit.has_value()) << "pacat did not finish";
  ASSERT_EQ(*exit, 0) << log_of("pacat");
  // pacat drains before exiting; a little more for the capture's buffering.
  const size_t end_mark = cap.frames;
  ASSERT_TRUE(wait_for([&] { return cap.frames >= end_mark + kPlayRate; }));
  ASSERT_TRUE(BASS_ChannelStop(rec));
  const int calls_at_stop = cap.calls;
  ASSERT_TRUE(BASS_RecordFree());
  EXPECT_EQ(cap.calls, calls_at_stop) << "callback ran after BASS_ChannelStop returned";
  EXPECT_FALSE(cap.odd_length);

  std::vector<int16_t> samples;
  {
    std::lock_guard lock(cap.mu);
    samples = cap.samples;
  }
  const auto [l, r] = split_stereo(samples, kPlayRate, 1 / 32768.0);
  const auto onset = tone_onset(l, play_mark, left.freq, 0.5 * left.amplitude, 0.01);
  ASSERT_TRUE(onset.has_value()) << "the tone played into the default sink never reached the capture callback";
  const auto offset = tone_offset(l, *onset, left.freq, 0.5 * left.amplitude, 0.01);
  ASSERT_TRUE(offset.has_value());
  // The tone lasts 4 s: measure 3 s of it, clear of both ends.
  const size_t begin = *onset + l.frames(0.3), end = *onset + l.frames(3.3);
  ASSERT_GE(l.x.size(), end);

  const ToneMeasure ml = measure_tone(l, begin, end, left.freq);
  const ToneMeasure mr = measure_tone(r, begin, end, right.freq);
  // The server buffers a slow recorder's data rather than dropping it, so
  // what the callback delivered holds the whole tone, no more, no less.
  const double tone_seconds = static_cast<double>(*offset - *onset) / kPlayRate;
  const double silence_before = rms(l, play_mark > l.frames(0.5) ? play_mark - l.frames(0.5) : 0, play_mark);
  std::printf(
      "[pulse] capture (driver %s): left %.2f Hz %.5f, right %.2f Hz %.5f; rms/tone %.5f %.5f; "
      "weakest of %zu blocks %.5f; tone %.3f s long; rms before %.6f; %d callbacks, %zu frames\n",
      driver.c_str(), ml.freq, ml.amplitude, mr.freq, mr.amplitude, ml.purity, mr.purity, ml.blocks, ml.weakest,
      tone_seconds, silence_before, calls_at_stop, static_cast<size_t>(cap.frames));

  EXPECT_NEAR(ml.freq, left.freq, 1.0);
  EXPECT_NEAR(mr.freq, right.freq, 1.0);
  EXPECT_NEAR(ml.amplitude, left.amplitude, 0.05 * left.amplitude);
  EXPECT_NEAR(mr.amplitude, right.amplitude, 0.05 * right.amplitude);
  EXPECT_NEAR(ml.purity, 1.0, 0.02);
  EXPECT_NEAR(mr.purity, 1.0, 0.02);
  EXPECT_NEAR(tone_seconds, 4.0, 0.03);
  EXPECT_LT(silence_before, 0.001);
}

}  // namespace
