// Peaking sections in series, and the chain runner that gathers them.
//
// A section's recursion u = v - a1 u1 - a2 u2 waits several cycles on itself
// every frame, and each section waits on the one before it, so sections run
// over a block one after another are bound by latency. Stereo sections run
// here as a wavefront instead: in step t, section s works on frame t - 3 s,
// taking what section s - 1 made of that frame three steps before. No step
// waits on the step before it, so steps overlap and cost their arithmetic.
// A section's stereo pair is two doubles; where AVX2 and FMA are taken
// (x86-64), two sections share one register.
#include <algorithm>
#include <cmath>

#include "audio/dsp/effect.hpp"
#include "audio/dsp/simd.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr size_t kMaxFused = 32;

typedef double D2 __attribute__((vector_size(16)));
typedef double D4 __attribute__((vector_size(32)));

void flush(Biquad& q, int channels) {
  for (int c = 0; c < channels; ++c) {
    if (!(std::fabs(q.s1[c]) >= kDenormalFloor)) q.s1[c] = 0;  // tiny, or not a number
    if (!(std::fabs(q.s2[c]) >= kDenormalFloor)) q.s2[c] = 0;
  }
}

// The wavefront over n stereo frames for `count` sections (at most B x M;
// spare slots pass the sound on untouched). V holds B sections' stereo
// pairs: register p holds section p and, with B = 2, section M + p too.
// Section s works on frame t - kLag s in step t, taking what section s - 1
// made of that frame kLag steps before (kept in a small ring): a step's work
// then never waits on the step before, only on values long since made, and
// the processor overlaps steps freely. The first and last steps find some
// sections idle: those keep their memories as they were.
template <class V, int M>
[[gnu::always_inline]] inline void wave(Biquad* const* q, size_t count, float* x, size_t n) {
  constexpr int B = sizeof(V) / sizeof(D2);
  constexpr size_t kLag = 3, kRing = 4;          // kRing > kLag, a power of two
  constexpr size_t kDepth = (B * M - 1) * kLag;  // the last section's lag
  V g[M], a1[M], a2[M], u1[M], u2[M], lag[M];
  V ring[M][kRing] = {};
  // Unrolled, the arrays become registers.
#pragma GCC unroll 8
  for (int p = 0; p < M; ++p) {
#pragma GCC unroll 2
    for (int b = 0; b < B; ++b) {
      const size_t s = p + b * M;
      const Biquad* k = s < count ? q[s] : nullptr;
      for (int c = 0; c < 2; ++c) {
        const int l = 2 * b + c;
        g[p][l] = k ? k->g : 0;
        a1[p][l] = k ? k->a1 : 0;
        a2[p][l] = k ? k->a2 : 0;
        u1[p][l] = k ? k->s1[c] : 0;
        u2[p][l] = k ? k->s2[c] : 0;
        lag[p][l] = static_cast<double>(s * kLag);
      }
    }
  }
  // phase: t % kRing where the caller knows it, else -1.
  auto step = [&](size_t t, auto masked, auto phase) __attribute__((always_inline)) {
    constexpr int kPhase = decltype(phase)::value;
    const size_t now = kPhase < 0 ? t % kRing : kPhase;
    const size_t then = kPhase < 0 ? (t - kLag) % kRing : (kPhase + kRing - kLag) % kRing;
    V in[M];
    D2 v{};
    if (!masked || t < n) v = D2{x[2 * t], x[2 * t + 1]};
    if constexpr (B == 1)
      in[0] = v;
    else
      in[0] =
          __builtin_shufflevector(v, __builtin_shufflevector(ring[M - 1][then], ring[M - 1][then], 0, 1), 0, 1, 2, 3);
#pragma GCC unroll 8
    for (int p = 1; p < M; ++p) in[p] = ring[p - 1][then];
    V out;
#pragma GCC unroll 8
    for (int p = 0; p < M; ++p) {
      const V u = (in[p] - a2[p] * u2[p]) - a1[p] * u1[p];
      ring[p][now] = out = in[p] + g[p] * (u - u2[p]);
      if constexpr (decltype(masked)::value) {
        const double td = static_cast<double>(t);
        const auto live = (lag[p] <= td) & (lag[p] > td - static_cast<double>(n));
        u2[p] = live ? u1[p] : u2[p];
        u1[p] = live ? u : u1[p];
      } else {
        u2[p] = u1[p];
        u1[p] = u;
      }
    }
    if (t >= kDepth) {
      // From the register: a load of half of what was just stored would
      // wait for the store.
      D2 last;
      if constexpr (B == 1)
        last = out;
      else
        last = __builtin_shufflevector(out, out, 2, 3);
      float* f = x + 2 * (t - kDepth);
      f[0] = static_cast<float>(last[0]);
      f[1] = static_cast<float>(last[1]);
    }
  };
  constexpr std::true_type kMasked;
  constexpr std::false_type kFull;
  constexpr std::integral_constant<int, -1> kAny;
  const size_t full_end = std::max(kDepth, n);
  size_t t = 0;
  for (; t < kDepth; ++t) step(t, kMasked, kAny);
  for (; t < full_end && t % kRing; ++t) step(t, kFull, kAny);
  // kRing steps at a time, so that the ring's slots are known.
  for (; t + kRing <= full_end; t += kRing) {
    step(t, kFull, std::integral_constant<int, 0>());
    step(t + 1, kFull, std::integral_constant<int, 1>());
    step(t + 2, kFull, std::integral_constant<int, 2>());
    step(t + 3, kFull, std::integral_constant<int, 3>());
  }
  for (; t < full_end; ++t) step(t, kFull, kAny);
  for (; t < n + kDepth; ++t) step(t, kMasked, kAny);
#pragma GCC unroll 8
  for (int p = 0; p < M; ++p) {
#pragma GCC unroll 2
    for (int b = 0; b < B; ++b) {
      const size_t s = p + b * M;
      if (s >= count) continue;
      for (int c = 0; c < 2; ++c) {
        q[s]->s1[c] = u1[p][2 * b + c];
        q[s]->s2[c] = u2[p][2 * b + c];
      }
    }
  }
}

// Sections per wavefront: as many as keep their memories in registers (16
// of them on x86-64; 32-bit builds spill a few).
constexpr int kBaseSlots = 5;
constexpr int kWideSlots = 10;

template <int M>
void wave_base(Biquad* const* q, size_t count, float* x, size_t n) {
  wave<D2, M>(q, count, x, n);
}

#if defined(TOVARIN_WIDE_VECTORS)
template <int M>
TOVARIN_WIDE void wave_wide(Biquad* const* q, size_t count, float* x, size_t n) {
  wave<D4, M>(q, count, x, n);
}
#endif

// One wavefront of `count` sections, as few slots as hold them.
void stereo_wave(Biquad* const* q, size_t count, float* x, size_t n) {
#if defined(TOVARIN_WIDE_VECTORS)
  if (wide_vectors()) {
    switch ((count + 1) / 2) {
      case 1: return wave_wide<1>(q, count, x, n);
      case 2: return wave_wide<2>(q, count, x, n);
      case 3: return wave_wide<3>(q, count, x, n);
      case 4: return wave_wide<4>(q, count, x, n);
      default: return wave_wide<5>(q, count, x, n);
    }
  }
#endif
  switch (count) {
    case 1: return wave_base<1>(q, count, x, n);
    case 2: return wave_base<2>(q, count, x, n);
    case 3: return wave_base<3>(q, count, x, n);
    case 4: return wave_base<4>(q, count, x, n);
    default: return wave_base<5>(q, count, x, n);
  }
}

// Any channel count, one section at a time.
void plain_pass(Biquad& q, float* x, size_t frames, int ch) {
  for (int c = 0; c < ch; ++c) {
    double u1 = q.s1[c], u2 = q.s2[c];
    for (size_t i = 0; i < frames; ++i) {
      float& v = x[i * ch + c];
      const double in = v;
      const double u = (in - q.a2 * u2) - q.a1 * u1;
      v = static_cast<float>(in + q.g * (u - u2));
      u2 = u1;
      u1 = u;
    }
    q.s1[c] = u1;
    q.s2[c] = u2;
  }
}

}  // namespace

void run_biquads(Biquad* const* sections, size_t count, float* x, size_t frames, int channels) {
  Biquad* live[kMaxFused];
  for (size_t done = 0; done < count;) {
    size_t n = 0;
    for (; done < count && n < kMaxFused; ++done)
      if (!sections[done]->bypass) live[n++] = sections[done];
    if (channels == 2) {
      const size_t most = wide_vectors() ? kWideSlots : kBaseSlots;
      // As few wavefronts as hold them, as even as can be.
      const size_t waves = (n + most - 1) / most;
      for (size_t w = 0, k = 0; w < waves; ++w) {
        const size_t m = (n - k) / (waves - w);
        stereo_wave(live + k, m, x, frames);
        k += m;
      }
    } else {
      for (size_t i = 0; i < n; ++i) plain_pass(*live[i], x, frames, channels);
    }
    for (size_t i = 0; i < n; ++i) flush(*live[i], channels);
  }
}

void run_chain(Effect* const* effects, size_t count, float* x, size_t frames, int channels) {
  Biquad* group[kMaxFused];
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    if (Biquad* q = effects[i]->take_biquad()) {
      if (n == kMaxFused) {
        run_biquads(group, n, x, frames, channels);
        n = 0;
      }
      group[n++] = q;
      continue;
    }
    if (n) run_biquads(group, n, x, frames, channels);
    n = 0;
    effects[i]->process(x, frames);
  }
  if (n) run_biquads(group, n, x, frames, channels);
}

}  // namespace tovarin::audio::dsp
