// Compiled with -mavx512f -mfma (see the runner's CMakeLists.txt). Include nothing that
// instantiates inline library code here: such code would be built for AVX-512 and could be picked
// by the linker for callers on CPUs without it.

#include "platform/ml/runner/kernels/GemmSimd.hpp"

#if defined(__AVX512F__) && defined(__FMA__)

#include <immintrin.h>

namespace platform::runner::simd {
namespace {

// The tile: 14 rows of two 16-lane registers, 28 accumulators, plus two for the B row and one for
// the broadcast A element, within the 32 registers. The row loops are unrolled so every
// accumulator stays in its register.
constexpr int kRows = 14;

// The zero-masked forms of some operations are used with every lane set: the plain ones start
// from an "undefined" register that GCC 12 reports as maybe uninitialized.
constexpr __mmask16 kAll = 0xffff;

inline __mmask16 laneMask(std::size_t lanes) {
  return lanes >= 16 ? static_cast<__mmask16>(0xffff) : static_cast<__mmask16>((1u << lanes) - 1u);
}

// exp(x) for x <= 0 as the portable kernels compute it: 2^n * exp(r), n = round(x / ln 2),
// |r| <= ln 2 / 2, exp(r) by a degree-7 polynomial; 0 below -87.
inline __m512 expNonPositive(__m512 x) {
  const __m512 clamped = _mm512_maskz_max_ps(kAll, x, _mm512_set1_ps(-87.0f));
  const __m512 n =
      _mm512_maskz_roundscale_ps(kAll, _mm512_mul_ps(clamped, _mm512_set1_ps(1.44269504088896341f)),
                                 _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  __m512 r = _mm512_fnmadd_ps(n, _mm512_set1_ps(0.693359375f), clamped);
  r = _mm512_fnmadd_ps(n, _mm512_set1_ps(-2.12194440e-4f), r);
  __m512 p = _mm512_set1_ps(1.9875691500e-4f);
  p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.3981999507e-3f));
  p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(8.3334519073e-3f));
  p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(4.1665795894e-2f));
  p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.6666665459e-1f));
  p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(5.0000001201e-1f));
  p = _mm512_fmadd_ps(_mm512_mul_ps(p, r), r, _mm512_add_ps(r, _mm512_set1_ps(1.0f)));
  const __m512i bits = _mm512_maskz_slli_epi32(
      kAll, _mm512_add_epi32(_mm512_maskz_cvtps_epi32(kAll, n), _mm512_set1_epi32(127)), 23);
  const __m512 value = _mm512_mul_ps(p, _mm512_castsi512_ps(bits));
  const __mmask16 under = _mm512_cmp_ps_mask(x, _mm512_set1_ps(-87.0f), _CMP_LT_OQ);
  return _mm512_mask_blend_ps(under, value, _mm512_setzero_ps());
}

// x * Phi(x) with the error function by Abramowitz and Stegun 7.1.26, as the portable GELU.
inline __m512 gelu(__m512 x) {
  const __m512 scaled = _mm512_mul_ps(x, _mm512_set1_ps(0.70710678118654752f));
  const __m512 a = _mm512_abs_ps(scaled);
  const __m512 one = _mm512_set1_ps(1.0f);
  const __m512 t = _mm512_div_ps(one, _mm512_fmadd_ps(a, _mm512_set1_ps(0.3275911f), one));
  __m512 p = _mm512_set1_ps(1.061405429f);
  p = _mm512_fmadd_ps(p, t, _mm512_set1_ps(-1.453152027f));
  p = _mm512_fmadd_ps(p, t, _mm512_set1_ps(1.421413741f));
  p = _mm512_fmadd_ps(p, t, _mm512_set1_ps(-0.284496736f));
  p = _mm512_fmadd_ps(p, t, _mm512_set1_ps(0.254829592f));
  const __m512 squared = _mm512_mul_ps(a, a);
  const __m512 tail = _mm512_mul_ps(_mm512_mul_ps(p, t),
                                    expNonPositive(_mm512_sub_ps(_mm512_setzero_ps(), squared)));
  // erf is odd: its magnitude takes the argument's sign bit.
  const __m512i sign = _mm512_and_si512(_mm512_castps_si512(scaled),
                                        _mm512_set1_epi32(static_cast<int>(0x80000000u)));
  const __m512 erf =
      _mm512_castsi512_ps(_mm512_or_si512(_mm512_castps_si512(_mm512_sub_ps(one, tail)), sign));
  return _mm512_mul_ps(_mm512_mul_ps(_mm512_set1_ps(0.5f), x), _mm512_add_ps(one, erf));
}

} // namespace

void gemmTileAvx512(std::size_t kc, const float *a, const float *b, float *c, std::size_t ldc,
                    std::size_t rows, std::size_t cols, float alpha, float beta, const float *bias,
                    bool activate) {
  __m512 acc0[kRows], acc1[kRows];
#pragma GCC unroll 14
  for (int i = 0; i < kRows; ++i) {
    acc0[i] = _mm512_setzero_ps();
    acc1[i] = _mm512_setzero_ps();
  }
  for (std::size_t p = 0; p < kc; ++p) {
    const __m512 b0 = _mm512_loadu_ps(b);
    const __m512 b1 = _mm512_loadu_ps(b + 16);
#pragma GCC unroll 14
    for (int i = 0; i < kRows; ++i) {
      const __m512 ai = _mm512_set1_ps(a[i]);
      acc0[i] = _mm512_fmadd_ps(ai, b0, acc0[i]);
      acc1[i] = _mm512_fmadd_ps(ai, b1, acc1[i]);
    }
    a += kRows;
    b += 32;
  }
  const __mmask16 mask0 = laneMask(cols);
  const __mmask16 mask1 = cols > 16 ? laneMask(cols - 16) : static_cast<__mmask16>(0);
  const __m512 scale = _mm512_set1_ps(alpha);
  const __m512 keep = _mm512_set1_ps(beta);
  const __m512 bias0 = bias != nullptr ? _mm512_maskz_loadu_ps(mask0, bias) : _mm512_setzero_ps();
  const __m512 bias1 =
      bias != nullptr ? _mm512_maskz_loadu_ps(mask1, bias + 16) : _mm512_setzero_ps();
#pragma GCC unroll 14
  for (int i = 0; i < kRows; ++i) {
    if (static_cast<std::size_t>(i) < rows) {
      float *row = c + static_cast<std::size_t>(i) * ldc;
      __m512 v0 = _mm512_fmadd_ps(acc0[i], scale, bias0);
      __m512 v1 = _mm512_fmadd_ps(acc1[i], scale, bias1);
      if (beta != 0.0f) {
        v0 = _mm512_fmadd_ps(_mm512_maskz_loadu_ps(mask0, row), keep, v0);
        v1 = _mm512_fmadd_ps(_mm512_maskz_loadu_ps(mask1, row + 16), keep, v1);
      }
      if (activate) {
        v0 = gelu(v0);
        v1 = gelu(v1);
      }
      _mm512_mask_storeu_ps(row, mask0, v0);
      _mm512_mask_storeu_ps(row + 16, mask1, v1);
    }
  }
}

void expShiftedColumnsAvx512(float *panel, std::size_t rows, float *sums) {
  __m512 max0 = _mm512_set1_ps(-__builtin_inff()), max1 = max0;
  for (std::size_t r = 0; r < rows; ++r) {
    max0 = _mm512_maskz_max_ps(kAll, max0, _mm512_loadu_ps(panel + r * 32));
    max1 = _mm512_maskz_max_ps(kAll, max1, _mm512_loadu_ps(panel + r * 32 + 16));
  }
  __m512 sum0 = _mm512_setzero_ps(), sum1 = _mm512_setzero_ps();
  for (std::size_t r = 0; r < rows; ++r) {
    float *row = panel + r * 32;
    const __m512 e0 = expNonPositive(_mm512_sub_ps(_mm512_loadu_ps(row), max0));
    const __m512 e1 = expNonPositive(_mm512_sub_ps(_mm512_loadu_ps(row + 16), max1));
    _mm512_storeu_ps(row, e0);
    _mm512_storeu_ps(row + 16, e1);
    sum0 = _mm512_add_ps(sum0, e0);
    sum1 = _mm512_add_ps(sum1, e1);
  }
  _mm512_storeu_ps(sums, sum0);
  _mm512_storeu_ps(sums + 16, sum1);
}

} // namespace platform::runner::simd

#endif
