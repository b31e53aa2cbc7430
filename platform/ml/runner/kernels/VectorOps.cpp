#include "platform/ml/runner/kernels/VectorOps.hpp"

#include "platform/ml/runner/kernels/VectorOpsBodies.hpp"
#include "platform/ml/runner/kernels/VectorOpsSimd.hpp"

namespace platform::runner {
namespace {

using namespace vectorbodies;

// The loops over whole activation vectors are also built for AVX2 and AVX-512, and the best the
// CPU offers is taken: at the baseline's four lanes, the softmax over a window's 1500 memory
// positions alone took a tenth of a decoder step's cross-attention. Results may differ in the
// last bit between levels (fused multiply-adds).
enum class VectorLevel { baseline, avx2, avx512 };

VectorLevel vectorLevel() {
#if defined(__x86_64__) && defined(__GNUC__)
  static const VectorLevel level = [] {
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma")) {
      return VectorLevel::avx512;
    }
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
      return VectorLevel::avx2;
    }
    return VectorLevel::baseline;
  }();
  return level;
#else
  return VectorLevel::baseline;
#endif
}

} // namespace

float fastExp(float x) { return expKernel(x); }

float fastErf(float x) { return erfKernel(x); }

float fastLog10(float x) { return log10Kernel(x); }

float dot(const float *a, const float *b, std::size_t count) {
  constexpr std::size_t kLanes = 16;
  float lanes[kLanes] = {};
  std::size_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    for (std::size_t j = 0; j < kLanes; ++j) {
      lanes[j] += a[i + j] * b[i + j];
    }
  }
  float sum = 0.0f;
  for (; i < count; ++i) {
    sum += a[i] * b[i];
  }
  for (std::size_t j = 0; j < kLanes; ++j) {
    sum += lanes[j];
  }
  return sum;
}

void axpy(float alpha, const float *x, float *y, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    y[i] += alpha * x[i];
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define MQ_VECTOR_DISPATCH(name, ...)                                                              \
  switch (vectorLevel()) {                                                                         \
  case VectorLevel::avx512:                                                                        \
    return simd::name##Avx512(__VA_ARGS__);                                                        \
  case VectorLevel::avx2:                                                                          \
    return simd::name##Avx2(__VA_ARGS__);                                                          \
  case VectorLevel::baseline:                                                                      \
    break;                                                                                         \
  }                                                                                                \
  return name##Body(__VA_ARGS__)
#else
#define MQ_VECTOR_DISPATCH(name, ...) return name##Body(__VA_ARGS__)
#endif

float expShiftedInPlace(float *x, std::size_t count) {
  MQ_VECTOR_DISPATCH(expShiftedInPlace, x, count);
}

void softmaxInPlace(float *x, std::size_t count) { MQ_VECTOR_DISPATCH(softmaxInPlace, x, count); }

void layerNorm(const float *x, const float *gamma, const float *beta, float epsilon, float *out,
               std::size_t count) {
  MQ_VECTOR_DISPATCH(layerNorm, x, gamma, beta, epsilon, out, count);
}

void geluInPlace(float *x, std::size_t count) { MQ_VECTOR_DISPATCH(geluInPlace, x, count); }

void log10InPlace(float *x, std::size_t count) { MQ_VECTOR_DISPATCH(log10InPlace, x, count); }

void addInPlace(float *y, const float *x, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    y[i] += x[i];
  }
}

} // namespace platform::runner
