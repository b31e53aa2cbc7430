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

inline __mmask16 laneMask(std::size_t lanes) {
  return lanes >= 16 ? static_cast<__mmask16>(0xffff) : static_cast<__mmask16>((1u << lanes) - 1u);
}

} // namespace

void gemmTileAvx512(std::size_t kc, const float *a, const float *b, float *c, std::size_t ldc,
                    std::size_t rows, std::size_t cols, float alpha, float beta,
                    const float *bias) {
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
      _mm512_mask_storeu_ps(row, mask0, v0);
      _mm512_mask_storeu_ps(row + 16, mask1, v1);
    }
  }
}

} // namespace platform::runner::simd

#endif
