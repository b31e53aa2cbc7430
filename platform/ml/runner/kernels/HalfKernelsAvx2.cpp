// Compiled with -mf16c -mavx2 -mfma (see the runner's CMakeLists.txt). Include nothing that
// instantiates inline library code here: such code would be built for AVX2 and could be picked
// by the linker for callers on CPUs without it.

#include "platform/ml/runner/kernels/HalfKernelsSimd.hpp"

#if defined(__AVX2__) && defined(__F16C__) && defined(__FMA__)

#include <immintrin.h>

namespace platform::runner::simd {
namespace {

inline __m256 load8(const std::uint16_t *p) {
  return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

inline float widen1(std::uint16_t bits) { return _cvtsh_ss(bits); }

inline float sum8(__m256 v) {
  const __m128 folded = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
  const __m128 pairs = _mm_add_ps(folded, _mm_movehl_ps(folded, folded));
  return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_movehdup_ps(pairs)));
}

float dotRow(const std::uint16_t *a, const float *x, std::size_t n) {
  __m256 acc0 = _mm256_setzero_ps(), acc1 = _mm256_setzero_ps();
  __m256 acc2 = _mm256_setzero_ps(), acc3 = _mm256_setzero_ps();
  std::size_t c = 0;
  for (; c + 32 <= n; c += 32) {
    acc0 = _mm256_fmadd_ps(load8(a + c), _mm256_loadu_ps(x + c), acc0);
    acc1 = _mm256_fmadd_ps(load8(a + c + 8), _mm256_loadu_ps(x + c + 8), acc1);
    acc2 = _mm256_fmadd_ps(load8(a + c + 16), _mm256_loadu_ps(x + c + 16), acc2);
    acc3 = _mm256_fmadd_ps(load8(a + c + 24), _mm256_loadu_ps(x + c + 24), acc3);
  }
  for (; c + 8 <= n; c += 8) {
    acc0 = _mm256_fmadd_ps(load8(a + c), _mm256_loadu_ps(x + c), acc0);
  }
  float sum = sum8(_mm256_add_ps(_mm256_add_ps(acc0, acc1), _mm256_add_ps(acc2, acc3)));
  for (; c < n; ++c) {
    sum += widen1(a[c]) * x[c];
  }
  return sum;
}

} // namespace

void halfDotRowsAvx2(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                     const float *x, float *y) {
  for (std::size_t r = 0; r < rows; ++r) {
    y[r] = dotRow(a + r * lda, x, cols);
  }
}

void widenHalfAvx2(const std::uint16_t *source, float *destination, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm256_storeu_ps(destination + i, load8(source + i));
  }
  for (; i < count; ++i) {
    destination[i] = widen1(source[i]);
  }
}

void addHalfAvx2(float *y, const std::uint16_t *x, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm256_storeu_ps(y + i, _mm256_add_ps(_mm256_loadu_ps(y + i), load8(x + i)));
  }
  for (; i < count; ++i) {
    y[i] += widen1(x[i]);
  }
}

} // namespace platform::runner::simd

#endif
