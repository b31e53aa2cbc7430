#include "platform/ml/runner/kernels/VectorOps.hpp"

#include "platform/ml/runner/kernels/InstructionSet.hpp"
#include "platform/ml/runner/kernels/VectorOpsBodies.hpp"
#include "platform/ml/runner/kernels/VectorOpsSimd.hpp"

namespace platform::runner {

namespace simd {

MQ_VECTOR_KERNEL_ENTRY_POINTS(Baseline, Baseline)

} // namespace simd

namespace {

// The loops over whole activation vectors and the reductions over logits take the widest vectors
// the CPU offers: at the baseline's four lanes, the softmax over a window's 1500 memory positions
// alone took a tenth of a decoder step's cross-attention, and the sampler's normaliser over the
// vocabulary a quarter of a step. All builds give the same bits.
#define MQ_VECTOR_BUILDS(name)                                                                     \
  MQ_KERNEL_BUILDS(simd::name##Baseline, simd::name##Avx2, simd::name##Avx512)

} // namespace

float fastExp(float x) { return bodies::exp<Scalar>(x); }

float fastErf(float x) { return vectorbodies::erf<Scalar>(x); }

float fastLog10(float x) { return vectorbodies::log10<Scalar>(x); }

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

float expShiftedInPlace(float *x, std::size_t count) {
  return MQ_VECTOR_BUILDS(expShiftedInPlace).chosen()(x, count);
}

void softmaxInPlace(float *x, std::size_t count) {
  MQ_VECTOR_BUILDS(softmaxInPlace).chosen()(x, count);
}

void layerNorm(const float *x, const float *gamma, const float *beta, float epsilon, float *out,
               std::size_t count) {
  MQ_VECTOR_BUILDS(layerNorm).chosen()(x, gamma, beta, epsilon, out, count);
}

void geluInPlace(float *x, std::size_t count) { MQ_VECTOR_BUILDS(geluInPlace).chosen()(x, count); }

void log10InPlace(float *x, std::size_t count) {
  MQ_VECTOR_BUILDS(log10InPlace).chosen()(x, count);
}

void addInPlace(float *y, const float *x, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    y[i] += x[i];
  }
}

float maxValue(const float *x, std::size_t count) {
  return MQ_VECTOR_BUILDS(maxValue).chosen()(x, count);
}

MaxEntry maxEntry(const float *x, std::size_t count) {
  return MQ_VECTOR_BUILDS(maxEntry).chosen()(x, count);
}

float sumExp(const float *x, std::size_t count, float scale, float shift) {
  return MQ_VECTOR_BUILDS(sumExp).chosen()(x, count, scale, shift);
}

} // namespace platform::runner
