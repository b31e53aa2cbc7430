#pragma once

// The AVX-512 vector type (sixteen floats) the kernel bodies are written over; see SimdScalar.hpp
// and, for the float16 operations, SimdAvx2.hpp. Include only in translation units compiled with
// -mavx512f -mavx2 -mfma -mf16c.

#include "platform/ml/runner/kernels/SimdScalar.hpp"

#include <immintrin.h>

namespace platform::runner {
namespace {

// The zero-masked forms of the conversions and the extraction: the plain ones start from an
// "undefined" register that GCC 12 reports as maybe uninitialized.
struct Avx512 : GenericLanes<16> {
  static_assert(sizeof(Vector) == sizeof(__m512));
  MQ_SIMD_INLINE Vector zero() { return _mm512_setzero_ps(); }
  MQ_SIMD_INLINE Vector loadHalf(const std::uint16_t *p) {
    return _mm512_maskz_cvtph_ps(0xffff, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)));
  }
  MQ_SIMD_INLINE void storeHalf(std::uint16_t *p, Vector v) {
    _mm256_storeu_si256(
        reinterpret_cast<__m256i *>(p),
        _mm512_maskz_cvtps_ph(0xffff, v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
  }
  MQ_SIMD_INLINE Vector add(Vector a, Vector b) { return _mm512_add_ps(a, b); }
  MQ_SIMD_INLINE Vector mul(Vector a, Vector b) { return _mm512_mul_ps(a, b); }
  MQ_SIMD_INLINE Vector fmadd(Vector a, Vector b, Vector c) { return _mm512_fmadd_ps(a, b, c); }
  MQ_SIMD_INLINE float sum(Vector v) {
    const __m512d bits = _mm512_castps_pd(v);
    const __m256 eight =
        _mm256_add_ps(_mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xff, bits, 0)),
                      _mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xff, bits, 1)));
    const __m128 folded =
        _mm_add_ps(_mm256_castps256_ps128(eight), _mm256_extractf128_ps(eight, 1));
    const __m128 pairs = _mm_add_ps(folded, _mm_movehl_ps(folded, folded));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_movehdup_ps(pairs)));
  }
};

} // namespace
} // namespace platform::runner
