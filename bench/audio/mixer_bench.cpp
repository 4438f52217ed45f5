// Mixer cost per 10 ms block, CPU of the output thread while nothing plays,
// and resident memory per open stream.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "audio/api/library.hpp"
#include "audio/bass.h"
#include "audio/mixer/channel.hpp"
#include "audio/mixer/mixer.hpp"
#include "process_stats.hpp"

using namespace tovarin::audio;

namespace {

// An endless sine that costs next to nothing to produce, so the numbers are
// the mixer's.
class SineSource final : public Source {
 public:
  SineSource(int rate, int channels) {
    info_.rate = rate;
    info_.channels = channels;
    table_.resize(4096 * channels);
    for (size_t i = 0; i < table_.size(); ++i) table_[i] = 0.1f * std::sin(i * 0.01f);
  }
  const SourceInfo& info() const override { return info_; }
  void start() override {}
  bool seek_to(int64_t f) override { return pos_ = f, true; }
  int64_t file_position(uint32_t) const override { return -1; }
  std::string tag(TagKey) const override { return {}; }
  size_t read(float* out, size_t frames) override {
    frames = std::min<size_t>(frames, 4096);
    std::copy(table_.begin(), table_.begin() + frames * info_.channels, out);
    pos_ += frames;
    return frames;
  }
  bool finished() const override { return false; }
  int64_t position() const override { return pos_; }

 private:
  SourceInfo info_;
  std::vector<float> table_;
  int64_t pos_ = 0;
};

// range(0): streams; range(1): source rate (44100: no resampler).
void BM_MixBlock10ms(benchmark::State& state) {
  Mixer mixer(44100);
  std::vector<std::unique_ptr<Channel>> chans;
  for (int i = 0; i < state.range(0); ++i) {
    auto ch = std::make_unique<Channel>(std::make_unique<SineSource>(static_cast<int>(state.range(1)), 2), 44100);
    std::string why;
    if (!ch->init(&why)) state.SkipWithError(why.c_str());
    ch->set_state(PlayState::Playing);
    ch->set_volume(0.03f);
    mixer.add(ch.get());
    chans.push_back(std::move(ch));
  }
  std::vector<float> out(441 * 2);
  for (auto _ : state) {
    mixer.render(out.data(), 441);
    benchmark::DoNotOptimize(out.data());
  }
  for (auto& ch : chans) mixer.remove(ch.get());
}
BENCHMARK(BM_MixBlock10ms)->ArgsProduct({{1, 32}, {44100, 48000}})->Unit(benchmark::kMicrosecond);

// One 44.1 kHz stream carrying what the plug-in can attach at most: ten
// equalizer bands (at +6 dB, so none is bypassed) and the five effects.
void BM_MixBlock10msAllEffects(benchmark::State& state) {
  Mixer mixer(44100);
  Channel ch(std::make_unique<SineSource>(44100, 2), 44100);
  std::string why;
  if (!ch.init(&why)) return state.SkipWithError(why.c_str());
  std::vector<std::unique_ptr<dsp::Effect>> effects;
  const float centres[10] = {80, 170, 310, 600, 1000, 3000, 6000, 12000, 14000, 16000};
  for (float c : centres) {
    auto e = dsp::make_effect(BASS_FX_DX8_PARAMEQ);
    e->prepare(44100, 2);
    BASS_DX8_PARAMEQ p{c, 12, 6};
    e->set_parameters(&p);
    effects.push_back(std::move(e));
  }
  for (DWORD t :
       {BASS_FX_DX8_FLANGER, BASS_FX_DX8_CHORUS, BASS_FX_DX8_REVERB, BASS_FX_DX8_ECHO, BASS_FX_DX8_COMPRESSOR}) {
    auto e = dsp::make_effect(t);
    e->prepare(44100, 2);
    effects.push_back(std::move(e));
  }
  auto chain = std::make_unique<FxChain>();
  for (auto& e : effects) chain->effects.push_back(e.get());
  ch.swap_fx(chain.get());
  ch.set_state(PlayState::Playing);
  mixer.add(&ch);
  std::vector<float> out(441 * 2);
  for (auto _ : state) {
    mixer.render(out.data(), 441);
    benchmark::DoNotOptimize(out.data());
  }
  mixer.remove(&ch);
  ch.swap_fx(nullptr);
}
BENCHMARK(BM_MixBlock10msAllEffects)->Unit(benchmark::kMicrosecond);

// The whole library initialised on the null output with nothing playing:
// CPU used per second of wall time, in percent of one core.
void BM_IdleCpu(benchmark::State& state) {
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  if (!BASS_Init(-1, 44100, 0, 0, nullptr)) return state.SkipWithError("init failed");
  HSTREAM paused = 0;
  if (state.range(0)) {
    // A stream exists but is paused: the output still runs, the mixer skips it.
    paused = create_stream_from_source(std::make_unique<SineSource>(44100, 2), 0);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  double pct = 0;
  for (auto _ : state) {
    double c0 = bench::cpu_seconds();
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    pct = 100.0 * (bench::cpu_seconds() - c0) / wall;
    state.SetIterationTime(wall);
  }
  state.counters["cpu_%_of_core"] = pct;
  if (paused) BASS_StreamFree(paused);
  BASS_Free();
}
BENCHMARK(BM_IdleCpu)->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

std::string make_wav() {
  std::string path = "/tmp/tovarin-bench-" + std::to_string(getpid()) + ".wav";
  std::string cmd = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=10:sample_rate=44100 -ac 2 " + path;
  return std::system(cmd.c_str()) == 0 ? path : std::string();
}

// Resident memory per open stream: 32 streams opened (and playing) on the
// null output. range(0): 0 synthetic sources (the mixer's share), 1 real
// WAV files through the decoders.
void BM_ResidentPerStream(benchmark::State& state) {
  std::string wav;
  if (state.range(0)) {
    wav = make_wav();
    if (wav.empty()) return state.SkipWithError("ffmpeg could not make the test file");
  }
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  double per = 0;
  for (auto _ : state) {
    if (!BASS_Init(-1, 44100, 0, 0, nullptr)) return state.SkipWithError("init failed");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    long before = bench::resident_kib();
    std::vector<HSTREAM> hs;
    for (int i = 0; i < 32; ++i) {
      HSTREAM h = wav.empty() ? create_stream_from_source(std::make_unique<SineSource>(48000, 2), 0)
                              : BASS_StreamCreateFile(0, wav.c_str(), 0, 0, 0);
      BASS_ChannelPlay(h, 0);
      hs.push_back(h);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    per = double(bench::resident_kib() - before) / 32;
    BASS_Free();
  }
  state.counters["KiB_per_stream"] = per;
  if (!wav.empty()) std::remove(wav.c_str());
}
BENCHMARK(BM_ResidentPerStream)->Arg(0)->Arg(1)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

}  // namespace
