// Second-order sections in series, and the chain runner that gathers them.
//
// A section's recursion costs several cycles of latency per frame, so one
// section per pass over a block waits on itself. Several sections in one
// pass are independent from frame to frame, and the processor overlaps
// them: the stereo pair is one SSE2 register of two doubles, and a few
// sections run per pass with their memories in registers.
#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "audio/dsp/effect.hpp"

namespace tovarin::audio::dsp {
namespace {

constexpr size_t kMaxFused = 32;

void flush(Biquad& q, int channels) {
  for (int c = 0; c < channels; ++c) {
    if (!(std::fabs(q.s1[c]) >= kDenormalFloor)) q.s1[c] = 0;  // tiny, or not a number
    if (!(std::fabs(q.s2[c]) >= kDenormalFloor)) q.s2[c] = 0;
  }
}

#if defined(__SSE2__)
// One stereo frame of floats as a pair of doubles, and back.
inline __m128d load_frame(const float* f) {
  return _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(f))));
}
inline void store_frame(float* f, __m128d v) {
  _mm_store_sd(reinterpret_cast<double*>(f), _mm_castps_pd(_mm_cvtpd_ps(v)));
}

// kShared: every section has a1 == b1 (the peaking band does), which saves
// a multiplication per section.
template <int K, bool kShared>
void stereo_pass(Biquad* const* q, float* x, size_t frames) {
  __m128d b0[K], b1[K], b2[K], a1[K], a2[K], z1[K], z2[K];
  // Unrolled, the arrays become registers.
#pragma GCC unroll 4
  for (int k = 0; k < K; ++k) {
    b0[k] = _mm_set1_pd(q[k]->b0);
    b1[k] = _mm_set1_pd(q[k]->b1);
    b2[k] = _mm_set1_pd(q[k]->b2);
    a1[k] = _mm_set1_pd(q[k]->a1);
    a2[k] = _mm_set1_pd(q[k]->a2);
    z1[k] = _mm_loadu_pd(q[k]->s1);
    z2[k] = _mm_loadu_pd(q[k]->s2);
  }
  for (size_t i = 0; i < frames; ++i) {
    __m128d v = load_frame(x + 2 * i);
#pragma GCC unroll 4
    for (int k = 0; k < K; ++k) {
      const __m128d out = _mm_add_pd(_mm_mul_pd(b0[k], v), z1[k]);
      if (kShared)
        z1[k] = _mm_add_pd(_mm_mul_pd(b1[k], _mm_sub_pd(v, out)), z2[k]);
      else
        z1[k] = _mm_add_pd(_mm_sub_pd(_mm_mul_pd(b1[k], v), _mm_mul_pd(a1[k], out)), z2[k]);
      z2[k] = _mm_sub_pd(_mm_mul_pd(b2[k], v), _mm_mul_pd(a2[k], out));
      v = out;
    }
    store_frame(x + 2 * i, v);
  }
#pragma GCC unroll 4
  for (int k = 0; k < K; ++k) {
    _mm_storeu_pd(q[k]->s1, z1[k]);
    _mm_storeu_pd(q[k]->s2, z2[k]);
  }
}
// Peaking sections: u = v - a1 u1 - a2 u2, out = v + (b0 - 1)(u - u2).
template <int K>
void peaking_pass(Biquad* const* q, float* x, size_t frames) {
  __m128d g[K], a1[K], a2[K], u1[K], u2[K];
#pragma GCC unroll 4
  for (int k = 0; k < K; ++k) {
    g[k] = _mm_set1_pd(q[k]->b0 - 1);
    a1[k] = _mm_set1_pd(q[k]->a1);
    a2[k] = _mm_set1_pd(q[k]->a2);
    u1[k] = _mm_loadu_pd(q[k]->s1);
    u2[k] = _mm_loadu_pd(q[k]->s2);
  }
  for (size_t i = 0; i < frames; ++i) {
    __m128d v = load_frame(x + 2 * i);
#pragma GCC unroll 4
    for (int k = 0; k < K; ++k) {
      const __m128d u = _mm_sub_pd(_mm_sub_pd(v, _mm_mul_pd(a2[k], u2[k])), _mm_mul_pd(a1[k], u1[k]));
      v = _mm_add_pd(v, _mm_mul_pd(g[k], _mm_sub_pd(u, u2[k])));
      u2[k] = u1[k];
      u1[k] = u;
    }
    store_frame(x + 2 * i, v);
  }
#pragma GCC unroll 4
  for (int k = 0; k < K; ++k) {
    _mm_storeu_pd(q[k]->s1, u1[k]);
    _mm_storeu_pd(q[k]->s2, u2[k]);
  }
}

template <int K>
void stereo_pass(Biquad* const* q, float* x, size_t frames) {
  bool shared = true;
  for (int k = 0; k < K; ++k) shared &= q[k]->a1 == q[k]->b1;
  if (shared)
    stereo_pass<K, true>(q, x, frames);
  else
    stereo_pass<K, false>(q, x, frames);
}
#endif

// Any channel count, one section at a time.
void plain_pass(Biquad& q, float* x, size_t frames, int ch) {
  if (q.peaking) {
    const double g = q.b0 - 1;
    for (int c = 0; c < ch; ++c) {
      double u1 = q.s1[c], u2 = q.s2[c];
      for (size_t i = 0; i < frames; ++i) {
        float& v = x[i * ch + c];
        const double in = v;
        const double u = (in - q.a2 * u2) - q.a1 * u1;
        v = static_cast<float>(in + g * (u - u2));
        u2 = u1;
        u1 = u;
      }
      q.s1[c] = u1;
      q.s2[c] = u2;
    }
    return;
  }
  for (int c = 0; c < ch; ++c) {
    double s1 = q.s1[c], s2 = q.s2[c];
    for (size_t i = 0; i < frames; ++i) {
      float& v = x[i * ch + c];
      const double in = v;
      const double out = q.b0 * in + s1;
      s1 = q.b1 * in - q.a1 * out + s2;
      s2 = q.b2 * in - q.a2 * out;
      v = static_cast<float>(out);
    }
    q.s1[c] = s1;
    q.s2[c] = s2;
  }
}

}  // namespace

void run_biquads(Biquad* const* sections, size_t count, float* x, size_t frames, int channels) {
  Biquad* live[kMaxFused];
  for (size_t done = 0; done < count;) {
    size_t n = 0;
    for (; done < count && n < kMaxFused; ++done)
      if (!sections[done]->bypass) live[n++] = sections[done];
#if defined(__SSE2__)
    if (channels == 2) {
      // Each pass is bit-identical to running its sections one by one.
      // Passes of at most three peaking sections (their recursion is short,
      // so more per pass gains nothing and spills registers) or four others,
      // as even as can be (ten bands: 2, 2, 3 and 3); a mixed group runs
      // section by section.
      size_t peaking = 0;
      for (size_t i = 0; i < n; ++i) peaking += live[i]->peaking;
      const size_t most = peaking == n ? 3 : 4;
      const size_t passes = peaking == n || peaking == 0 ? (n + most - 1) / most : n;
      for (size_t p = 0, k = 0; p < passes; ++p) {
        const size_t m = (n - k) / (passes - p);
        if (live[k]->peaking) {
          switch (m) {
            case 3: peaking_pass<3>(live + k, x, frames); break;
            case 2: peaking_pass<2>(live + k, x, frames); break;
            default: peaking_pass<1>(live + k, x, frames); break;
          }
        } else {
          switch (m) {
            case 4: stereo_pass<4>(live + k, x, frames); break;
            case 3: stereo_pass<3>(live + k, x, frames); break;
            case 2: stereo_pass<2>(live + k, x, frames); break;
            default: stereo_pass<1>(live + k, x, frames); break;
          }
        }
        k += m;
      }
      for (size_t i = 0; i < n; ++i) flush(*live[i], channels);
      continue;
    }
#endif
    for (size_t i = 0; i < n; ++i) {
      plain_pass(*live[i], x, frames, channels);
      flush(*live[i], channels);
    }
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
