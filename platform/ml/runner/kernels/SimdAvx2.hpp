#pragma once

// The AVX2 vector type (eight floats) the kernel bodies are written over; see SimdScalar.hpp.
// Besides the common operations it widens and narrows float16 (F16C) and fuses multiply-adds for
// the float16 kernels: loadHalf (kWidth halves widened), storeHalf (narrowed, round to nearest
// even), add, mul, fmadd(a, b, c) = a * b + c, zero and sum (the lanes' sum). Include only in
// translation units compiled with -mavx2 -mfma -mf16c.

#include "platform/ml/runner/kernels/SimdScalar.hpp"

#include <immintrin.h>

namespace platform::runner {
namespace {

struct Avx2 : GenericLanes<8> {
  static_assert(sizeof(Vector) == sizeof(__m256));
  MQ_SIMD_INLINE Vector zero() { return _mm256_setzero_ps(); }
  MQ_SIMD_INLINE Vector loadHalf(const std::uint16_t *p) {
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
  }
  MQ_SIMD_INLINE void storeHalf(std::uint16_t *p, Vector v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p),
                     _mm256_cvtps_ph(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
  }
  MQ_SIMD_INLINE Vector add(Vector a, Vector b) { return _mm256_add_ps(a, b); }
  MQ_SIMD_INLINE Vector mul(Vector a, Vector b) { return _mm256_mul_ps(a, b); }
  MQ_SIMD_INLINE Vector fmadd(Vector a, Vector b, Vector c) { return _mm256_fmadd_ps(a, b, c); }
  MQ_SIMD_INLINE float sum(Vector v) {
    const __m128 folded = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    const __m128 pairs = _mm_add_ps(folded, _mm_movehl_ps(folded, folded));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_movehdup_ps(pairs)));
  }
  // One max and one min instruction, whose operand order gives the comparisons' result: the
  // compiler leaves those as compares and blends, a fifth of an exponential sum's time.
  MQ_SIMD_INLINE Vector clamp(Vector x, Vector low, Vector high) {
    return _mm256_min_ps(high, _mm256_max_ps(low, x));
  }
};

} // namespace
} // namespace platform::runner
