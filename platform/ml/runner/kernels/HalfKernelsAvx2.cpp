// Compiled with -mf16c -mavx2 -mfma (see the runner's CMakeLists.txt). Include nothing that
// instantiates inline library code here: such code would be built for AVX2 and could be picked
// by the linker for callers on CPUs without it.

#include "platform/ml/runner/kernels/HalfKernelsSimd.hpp"

#if defined(__AVX2__) && defined(__F16C__) && defined(__FMA__)

#include "platform/ml/runner/kernels/HalfKernelsBodies.hpp"

#include <immintrin.h>

namespace platform::runner::simd {
namespace {

struct Avx2 {
  using Vector = __m256;
  static constexpr std::size_t kWidth = 8;
  static Vector zero() { return _mm256_setzero_ps(); }
  static Vector broadcast(float value) { return _mm256_set1_ps(value); }
  static Vector load(const float *p) { return _mm256_loadu_ps(p); }
  static Vector loadHalf(const std::uint16_t *p) {
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
  }
  static void store(float *p, Vector v) { _mm256_storeu_ps(p, v); }
  static void storeHalf(std::uint16_t *p, Vector v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p),
                     _mm256_cvtps_ph(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
  }
  static Vector add(Vector a, Vector b) { return _mm256_add_ps(a, b); }
  static Vector mul(Vector a, Vector b) { return _mm256_mul_ps(a, b); }
  static Vector fmadd(Vector a, Vector b, Vector c) { return _mm256_fmadd_ps(a, b, c); }
  static float sum(Vector v) {
    const __m128 folded = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    const __m128 pairs = _mm_add_ps(folded, _mm_movehl_ps(folded, folded));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_movehdup_ps(pairs)));
  }
};

} // namespace

MQ_HALF_KERNEL_ENTRY_POINTS(Avx2, Avx2)

} // namespace platform::runner::simd

#endif
