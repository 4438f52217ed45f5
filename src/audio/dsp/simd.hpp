// Four lanes of floats: GCC's vector extension, which becomes SSE on x86
// (SSE2 is the baseline of both the 64-bit and the 32-bit build) and plain
// scalar code where there is no vector unit. Effects use it for the work
// that is alike across lines or across frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The hot loops are built twice on x86-64 Linux: for the baseline and, in
// functions marked TOVARIN_WIDE, for AVX2 with FMA, taken where the
// processor has them (wide_vectors()). Same sums; where FMA fuses a product
// into a sum the rounding differs in the last bit.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#define TOVARIN_WIDE_VECTORS 1
#define TOVARIN_WIDE [[gnu::target("avx2,fma")]]
#else
#define TOVARIN_WIDE
#endif

namespace tovarin::audio::dsp {

// Whether the processor's AVX2 and FMA are in use (see use_wide_vectors).
bool wide_vectors();

// Declares the member NAME(x, n), which runs the member BODY<kWide>(x, n)
// (always inlined, with all it calls) built for the baseline (kWide false)
// or, where it may, for AVX2 and FMA (kWide true: wider vectors pay).
#define TOVARIN_BOTH_BUILDS(NAME, BODY)                                   \
  void NAME##_base(float* x, size_t n) { BODY<false>(x, n); }             \
  TOVARIN_WIDE void NAME##_wide(float* x, size_t n) { BODY<true>(x, n); } \
  void NAME(float* x, size_t n) {                                         \
    if (wide_vectors())                                                   \
      NAME##_wide(x, n);                                                  \
    else                                                                  \
      NAME##_base(x, n);                                                  \
  }

typedef float F4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));

inline F4 load4(const float* p) {
  F4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void store4(float* p, F4 v) { std::memcpy(p, &v, sizeof v); }
inline F4 splat(float x) { return F4{x, x, x, x}; }
inline F4 abs4(F4 v) { return reinterpret_cast<F4>(reinterpret_cast<I4>(v) & 0x7fffffff); }
// Values too small to matter (or not numbers) become 0, so nothing ever
// decays into denormals.
inline F4 flush4(F4 v) {
  const I4 keep = abs4(v) >= splat(1e-25f);
  return reinterpret_cast<F4>(reinterpret_cast<I4>(v) & keep);
}
// Whether every lane of a comparison's result is true.
inline bool all4(I4 m) {
#if defined(__SSE2__)
  return _mm_movemask_ps(reinterpret_cast<__m128>(m)) == 15;
#else
  return m[0] && m[1] && m[2] && m[3];
#endif
}
inline float sum4(F4 v) { return (v[0] + v[1]) + (v[2] + v[3]); }
// Left and right of the four stereo frames in a (the first two) and b.
inline F4 left4(F4 a, F4 b) { return __builtin_shufflevector(a, b, 0, 2, 4, 6); }
inline F4 right4(F4 a, F4 b) { return __builtin_shufflevector(a, b, 1, 3, 5, 7); }

// Stereo x (n frames) becomes dry x x + wet x (l, r): l and r hold one value
// a frame.
inline void mix_stereo(float* x, size_t n, const float* l, const float* r, float dry, float wet) {
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const F4 vl = load4(l + i), vr = load4(r + i);
    float* f = x + 2 * i;
    store4(f, dry * load4(f) + wet * __builtin_shufflevector(vl, vr, 0, 4, 1, 5));
    store4(f + 4, dry * load4(f + 4) + wet * __builtin_shufflevector(vl, vr, 2, 6, 3, 7));
  }
  for (; i < n; ++i) {
    x[2 * i] = dry * x[2 * i] + wet * l[i];
    x[2 * i + 1] = dry * x[2 * i + 1] + wet * r[i];
  }
}

// out[i] = the sum of frame i's channels (interleaved, ch of them) x gain.
inline void sum_channels(const float* x, size_t n, int ch, float gain, float* out) {
  size_t i = 0;
  if (ch == 2) {
    for (; i + 4 <= n; i += 4) {
      const F4 a = load4(x + 2 * i), b = load4(x + 2 * i + 4);
      store4(out + i, (left4(a, b) + right4(a, b)) * gain);
    }
  }
  for (; i < n; ++i) {
    float sum = 0;
    for (int c = 0; c < ch; ++c) sum += x[i * ch + c];
    out[i] = sum * gain;
  }
}

// log2 of a vector F of positive, normal, finite floats (as fast_log2).
template <class F>
[[gnu::always_inline]] inline F log2v(F x) {
  using I = decltype(x < x);
  I bits = reinterpret_cast<I>(x);
  I e = ((bits >> 23) & 0xff) - 127;
  F m = reinterpret_cast<F>((bits & 0x7fffff) | 0x3f800000);
  const I big = m > 1.41421356f;
  m = big ? m * 0.5f : m;
  e -= big;  // true is -1
  const F t = (m - 1) / (m + 1), t2 = t * t;
  const F p = t * (2.88539008f + t2 * (0.961796694f + t2 * (0.577078016f + t2 * 0.412198583f)));
  return __builtin_convertvector(e, F) + p;
}

// 2^y of a vector F of floats, each clamped to -125..125 (as fast_exp2).
template <class F>
[[gnu::always_inline]] inline F exp2v(F y) {
  using I = decltype(y < y);
  y = y < -125.f ? F{} - 125.f : y;
  y = y > 125.f ? F{} + 125.f : y;
  const I i = __builtin_convertvector(y + 128.5f, I) - 128;  // nearest, by truncating a positive value
  const F f = (y - __builtin_convertvector(i, F)) * 0.693147181f;
  const F p =
      1 + f * (1 + f * (0.5f + f * (0.166666667f + f * (0.0416666667f + f * (0.00833333333f + f * 0.00138888889f)))));
  return p * reinterpret_cast<F>((i + 127) << 23);
}

}  // namespace tovarin::audio::dsp
