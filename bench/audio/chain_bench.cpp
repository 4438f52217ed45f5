// The effect chain's cost: the whole pipeline (decode a 60 s file, ten
// equalizer bands, chorus, flanger, echo, compressor, reverb) against sox
// running the comparable chain on the same file, and each effect alone.
//
// BM_ChainVsSox: medians of 5 runs each, alternating, in the same process:
//   ours_s   60 s file pulled through a decoding stream with the full chain
//   sox_s    sox IN -n <the same chain in sox's terms>
//   sox_over_ours  how many times faster we are
//   x_realtime     seconds of sound per second of work, ours
//   *_cpu_s, cpu_sox_over_ours, cpu_x_realtime: the same by CPU time,
//   steadier on a shared machine (aims: >= 8 and >= 500)
//   chain_cpu_s    the same chain alone over the file's decoded sound, in
//                  the mixer's blocks (4096 frames), on this thread
//   around_cpu_s   ours_cpu_s - chain_cpu_s: decoding and the pipeline
//                  around the chain
//   chain_share    chain_cpu_s / ours_cpu_s
// BM_TenBandsInAChain/wide:<0|1>: the equalizer as a stream runs it, per
// band and frame.
// BM_Effect/type:<type>/wide:<0|1>: seconds of one effect per stereo frame
// at 44.1 kHz (the equalizer band's aim: < 0.05 us).
// wide:1 takes the builds made for AVX2 and FMA, wide:0 the baseline's
// (skipped where the processor lacks them).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/bass.h"
#include "audio/dsp/effect.hpp"
#include "process_stats.hpp"

namespace {

const float kCentres[10] = {80, 170, 310, 600, 1000, 3000, 6000, 12000, 14000, 16000};

std::string make_file() {
  std::string path = "/tmp/tovarin-chain-bench-" + std::to_string(getpid()) + ".wav";
  std::string cmd = "sox -n -r 44100 -c 2 -b 16 -e signed " + path + " synth 60 pinknoise vol 0.5 2>/dev/null";
  return std::system(cmd.c_str()) == 0 ? path : std::string();
}

// Pulls the whole file through the chain; seconds of wall time.
double run_ours(const std::string& path) {
  auto t0 = std::chrono::steady_clock::now();
  HSTREAM h = BASS_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE);
  if (!h) return -1;
  for (int band = 0; band < 10; ++band) {
    HFX fx = BASS_ChannelSetFX(h, BASS_FX_DX8_PARAMEQ, band + 1);
    BASS_DX8_PARAMEQ p{kCentres[band], 12, 3};
    BASS_FXSetParameters(fx, &p);
  }
  for (DWORD t :
       {BASS_FX_DX8_CHORUS, BASS_FX_DX8_FLANGER, BASS_FX_DX8_ECHO, BASS_FX_DX8_COMPRESSOR, BASS_FX_DX8_REVERB})
    BASS_ChannelSetFX(h, t, 0);
  static std::vector<float> buf(16384 * 2);
  uint64_t bytes = 0;
  for (;;) {
    DWORD n = BASS_ChannelGetData(h, buf.data(), static_cast<DWORD>(buf.size() * sizeof(float)) | BASS_DATA_FLOAT);
    if (n == DWORD(-1) || n == 0) break;
    bytes += n;
  }
  BASS_StreamFree(h);
  double s = bench::seconds_since(t0);
  return bytes == 44100ull * 60 * 2 * sizeof(float) ? s : -1;
}

// The decoded file, for the chain alone.
std::vector<float> decode_all(const std::string& path) {
  std::vector<float> all;
  HSTREAM h = BASS_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE);
  if (!h) return all;
  std::vector<float> buf(16384 * 2);
  for (;;) {
    DWORD n = BASS_ChannelGetData(h, buf.data(), static_cast<DWORD>(buf.size() * sizeof(float)) | BASS_DATA_FLOAT);
    if (n == DWORD(-1) || n == 0) break;
    all.insert(all.end(), buf.begin(), buf.begin() + n / sizeof(float));
  }
  BASS_StreamFree(h);
  return all;
}

// The chain of run_ours in its order (the bands' priorities first, highest
// first), over a copy of the sound in the mixer's blocks; CPU seconds of
// this thread.
double run_chain_alone(const std::vector<float>& sound) {
  namespace dsp = tovarin::audio::dsp;
  std::vector<std::unique_ptr<dsp::Effect>> owned;
  for (int band = 9; band >= 0; --band) {
    owned.push_back(dsp::make_effect(BASS_FX_DX8_PARAMEQ));
    owned.back()->prepare(44100, 2);
    BASS_DX8_PARAMEQ p{kCentres[band], 12, 3};
    owned.back()->set_parameters(&p);
  }
  for (DWORD t :
       {BASS_FX_DX8_CHORUS, BASS_FX_DX8_FLANGER, BASS_FX_DX8_ECHO, BASS_FX_DX8_COMPRESSOR, BASS_FX_DX8_REVERB}) {
    owned.push_back(dsp::make_effect(t));
    owned.back()->prepare(44100, 2);
  }
  std::vector<dsp::Effect*> chain;
  for (auto& e : owned) chain.push_back(e.get());
  static std::vector<float> x;
  x = sound;
  const double c0 = bench::cpu_seconds(RUSAGE_THREAD);
  constexpr size_t kBlock = 4096;
  for (size_t at = 0; at < x.size() / 2; at += kBlock)
    dsp::run_chain(chain.data(), chain.size(), x.data() + 2 * at, std::min(kBlock, x.size() / 2 - at), 2);
  benchmark::DoNotOptimize(x.data());
  return bench::cpu_seconds(RUSAGE_THREAD) - c0;
}

double run_sox(const std::string& path) {
  std::string cmd = "sox " + path + " -n";
  for (float f : kCentres) cmd += " equalizer " + std::to_string(int(f)) + " 1q 3";
  cmd +=
      " chorus 0.5 0.9 25 0.4 1.1 1.6 -s flanger 2 2 -50 50 0.25 sine 0 echo 0.8 0.88 500 0.5"
      " compand 0.01,0.2 -20,-20,-10,-16.67 0 -90 0.004 reverb 50 50 100 2>/dev/null";
  auto t0 = std::chrono::steady_clock::now();
  if (std::system(cmd.c_str()) != 0) return -1;
  return bench::seconds_since(t0);
}

void BM_ChainVsSox(benchmark::State& state) {
  std::string path = make_file();
  if (path.empty()) return state.SkipWithError("sox could not make the test file");
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  if (!BASS_Init(-1, 44100, 0, 0, nullptr)) return state.SkipWithError("init failed");
  const std::vector<float> sound = decode_all(path);
  if (sound.size() != 44100ull * 60 * 2) return state.SkipWithError("decoding failed");
  std::vector<double> ours, sox, ours_cpu, sox_cpu, chain_cpu;
  for (auto _ : state) {
    for (int i = 0; i < 5; ++i) {
      chain_cpu.push_back(run_chain_alone(sound));
      double c0 = bench::cpu_seconds(RUSAGE_SELF);
      ours.push_back(run_ours(path));
      ours_cpu.push_back(bench::cpu_seconds(RUSAGE_SELF) - c0);
      c0 = bench::cpu_seconds(RUSAGE_CHILDREN);
      sox.push_back(run_sox(path));
      sox_cpu.push_back(bench::cpu_seconds(RUSAGE_CHILDREN) - c0);
      if (ours.back() < 0 || sox.back() < 0) {
        state.SkipWithError("a run failed");
        break;
      }
    }
    state.SetIterationTime(bench::median(ours));
  }
  BASS_Free();
  std::remove(path.c_str());
  if (ours.empty() || sox.empty()) return;
  state.counters["ours_s"] = bench::median(ours);
  state.counters["sox_s"] = bench::median(sox);
  state.counters["sox_over_ours"] = bench::median(sox) / bench::median(ours);
  state.counters["x_realtime"] = 60 / bench::median(ours);
  // The machine may be shared: CPU time (ours: every thread, the decoder's
  // included) is steadier than wall time.
  state.counters["ours_cpu_s"] = bench::median(ours_cpu);
  state.counters["sox_cpu_s"] = bench::median(sox_cpu);
  state.counters["cpu_sox_over_ours"] = bench::median(sox_cpu) / bench::median(ours_cpu);
  state.counters["cpu_x_realtime"] = 60 / bench::median(ours_cpu);
  state.counters["chain_cpu_s"] = bench::median(chain_cpu);
  state.counters["around_cpu_s"] = bench::median(ours_cpu) - bench::median(chain_cpu);
  state.counters["chain_share"] = bench::median(chain_cpu) / bench::median(ours_cpu);
}
BENCHMARK(BM_ChainVsSox)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// One effect on a stereo 44.1 kHz block of 441 frames of noise, with the
// processor's wider vectors (wide:1) or the baseline's (wide:0).
void BM_Effect(benchmark::State& state) {
  const DWORD type = static_cast<DWORD>(state.range(0));
  if (!tovarin::audio::dsp::use_wide_vectors(state.range(1))) return state.SkipWithError("no wider vectors");
  auto e = tovarin::audio::dsp::make_effect(type);
  e->prepare(44100, 2);
  if (type == BASS_FX_DX8_PARAMEQ) {
    BASS_DX8_PARAMEQ p{1000, 12, 3};
    e->set_parameters(&p);
  }
  // Noise under a slow swell, a new stretch of it on each run: a short
  // repeating signal would let the processor learn the branches by heart.
  constexpr size_t kNoiseFrames = 1 << 16;
  std::vector<float> noise(kNoiseFrames * 2), block(441 * 2);
  uint32_t seed = 1;
  for (size_t i = 0; i < noise.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    noise[i] = 0.6f * (seed / 4294967296.f - 0.5f) * std::sin(i * 0.0007f);
  }
  size_t at = 0;
  for (auto _ : state) {
    std::copy(noise.begin() + at, noise.begin() + at + block.size(), block.begin());
    at = at + 2 * block.size() <= noise.size() ? at + block.size() : 0;
    e->process(block.data(), 441);
    benchmark::DoNotOptimize(block.data());
  }
  tovarin::audio::dsp::use_wide_vectors(true);
  state.counters["s_per_frame"] =
      benchmark::Counter(441.0 * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Effect)
    ->ArgNames({"type", "wide"})
    ->ArgsProduct({{BASS_FX_DX8_PARAMEQ, BASS_FX_DX8_CHORUS, BASS_FX_DX8_FLANGER, BASS_FX_DX8_ECHO,
                    BASS_FX_DX8_COMPRESSOR, BASS_FX_DX8_REVERB},
                   {0, 1}});

// The ten equalizer bands as a chain runs them (in shared passes), with the
// processor's wider vectors (wide:1) or the baseline's (wide:0).
void BM_TenBandsInAChain(benchmark::State& state) {
  if (!tovarin::audio::dsp::use_wide_vectors(state.range(0))) return state.SkipWithError("no wider vectors");
  std::vector<std::unique_ptr<tovarin::audio::dsp::Effect>> bands;
  std::vector<tovarin::audio::dsp::Effect*> chain;
  for (float c : kCentres) {
    bands.push_back(tovarin::audio::dsp::make_effect(BASS_FX_DX8_PARAMEQ));
    bands.back()->prepare(44100, 2);
    BASS_DX8_PARAMEQ p{c, 12, 3};
    bands.back()->set_parameters(&p);
    chain.push_back(bands.back().get());
  }
  std::vector<float> noise(441 * 2), block(441 * 2);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = 0.3f * std::sin(i * 0.37f) * std::sin(i * 0.011f);
  for (auto _ : state) {
    std::copy(noise.begin(), noise.end(), block.begin());
    tovarin::audio::dsp::run_chain(chain.data(), chain.size(), block.data(), 441, 2);
    benchmark::DoNotOptimize(block.data());
  }
  tovarin::audio::dsp::use_wide_vectors(true);
  state.counters["s_per_frame_and_band"] =
      benchmark::Counter(4410.0 * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TenBandsInAChain)->ArgName("wide")->Arg(0)->Arg(1);

}  // namespace
