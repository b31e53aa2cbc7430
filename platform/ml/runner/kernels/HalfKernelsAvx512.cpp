// Compiled with -mavx512f -mf16c -mavx2 -mfma (see the runner's CMakeLists.txt). Include nothing
// that instantiates inline library code here: such code would be built for AVX-512 and could be
// picked by the linker for callers on CPUs without it.

#include "platform/ml/runner/kernels/HalfKernelsSimd.hpp"

#if defined(__AVX512F__) && defined(__F16C__) && defined(__FMA__)

#include <immintrin.h>

namespace platform::runner::simd {
namespace {

// The zero-masked forms of the conversion and the extraction: the plain ones start from an
// "undefined" register that GCC 12 reports as maybe uninitialized.
inline __m512 load16(const std::uint16_t *p) {
  return _mm512_maskz_cvtph_ps(0xffff, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)));
}

inline float sum16(__m512 v) {
  const __m512d bits = _mm512_castps_pd(v);
  const __m256 eight = _mm256_add_ps(_mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xff, bits, 0)),
                                     _mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xff, bits, 1)));
  const __m128 folded = _mm_add_ps(_mm256_castps256_ps128(eight), _mm256_extractf128_ps(eight, 1));
  const __m128 pairs = _mm_add_ps(folded, _mm_movehl_ps(folded, folded));
  return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_movehdup_ps(pairs)));
}

inline float widen1(std::uint16_t bits) { return _cvtsh_ss(bits); }

float dotRow(const std::uint16_t *a, const float *x, std::size_t n) {
  __m512 acc0 = _mm512_setzero_ps(), acc1 = _mm512_setzero_ps();
  __m512 acc2 = _mm512_setzero_ps(), acc3 = _mm512_setzero_ps();
  std::size_t c = 0;
  for (; c + 64 <= n; c += 64) {
    acc0 = _mm512_fmadd_ps(load16(a + c), _mm512_loadu_ps(x + c), acc0);
    acc1 = _mm512_fmadd_ps(load16(a + c + 16), _mm512_loadu_ps(x + c + 16), acc1);
    acc2 = _mm512_fmadd_ps(load16(a + c + 32), _mm512_loadu_ps(x + c + 32), acc2);
    acc3 = _mm512_fmadd_ps(load16(a + c + 48), _mm512_loadu_ps(x + c + 48), acc3);
  }
  for (; c + 16 <= n; c += 16) {
    acc0 = _mm512_fmadd_ps(load16(a + c), _mm512_loadu_ps(x + c), acc0);
  }
  float sum = sum16(_mm512_add_ps(_mm512_add_ps(acc0, acc1), _mm512_add_ps(acc2, acc3)));
  for (; c < n; ++c) {
    sum += widen1(a[c]) * x[c];
  }
  return sum;
}

} // namespace

void halfDotRowsAvx512(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                       const float *x, float *y) {
  for (std::size_t r = 0; r < rows; ++r) {
    y[r] = dotRow(a + r * lda, x, cols);
  }
}

void widenHalfAvx512(const std::uint16_t *source, float *destination, std::size_t count) {
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    _mm512_storeu_ps(destination + i, load16(source + i));
  }
  for (; i < count; ++i) {
    destination[i] = widen1(source[i]);
  }
}

void addHalfAvx512(float *y, const std::uint16_t *x, std::size_t count) {
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    _mm512_storeu_ps(y + i, _mm512_add_ps(_mm512_loadu_ps(y + i), load16(x + i)));
  }
  for (; i < count; ++i) {
    y[i] += widen1(x[i]);
  }
}

} // namespace platform::runner::simd

#endif
