// Compiled with -mavx512f -mf16c -mavx2 -mfma (see the runner's CMakeLists.txt). Include nothing
// that instantiates inline library code here: such code would be built for AVX-512 and could be
// picked by the linker for callers on CPUs without it.

#include "platform/ml/runner/kernels/HalfKernelsSimd.hpp"

#if defined(__AVX512F__) && defined(__F16C__) && defined(__FMA__)

#include "platform/ml/runner/kernels/HalfKernelsBodies.hpp"

#include <immintrin.h>

namespace platform::runner::simd {
namespace {

// The zero-masked forms of the conversions and the extraction: the plain ones start from an
// "undefined" register that GCC 12 reports as maybe uninitialized.
struct Avx512 {
  using Vector = __m512;
  static constexpr std::size_t kWidth = 16;
  static Vector zero() { return _mm512_setzero_ps(); }
  static Vector broadcast(float value) { return _mm512_set1_ps(value); }
  static Vector load(const float *p) { return _mm512_loadu_ps(p); }
  static Vector loadHalf(const std::uint16_t *p) {
    return _mm512_maskz_cvtph_ps(0xffff, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)));
  }
  static void store(float *p, Vector v) { _mm512_storeu_ps(p, v); }
  static void storeHalf(std::uint16_t *p, Vector v) {
    _mm256_storeu_si256(
        reinterpret_cast<__m256i *>(p),
        _mm512_maskz_cvtps_ph(0xffff, v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
  }
  static Vector add(Vector a, Vector b) { return _mm512_add_ps(a, b); }
  static Vector mul(Vector a, Vector b) { return _mm512_mul_ps(a, b); }
  static Vector fmadd(Vector a, Vector b, Vector c) { return _mm512_fmadd_ps(a, b, c); }
  static float sum(Vector v) {
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

MQ_HALF_KERNEL_ENTRY_POINTS(Avx512, Avx512)

} // namespace platform::runner::simd

#endif
