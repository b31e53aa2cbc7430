#pragma once

// The builds of VectorOps' activation loops and of the reductions VectorKernels.hpp offers, one
// for each instruction set, each defined in a translation unit compiled for it (VectorOps.cpp for
// the baseline, VectorOpsAvx2.cpp, VectorOpsAvx512.cpp) by MQ_VECTOR_KERNEL_ENTRY_POINTS. Only
// VectorOps.cpp calls them, through the instruction-set dispatch; tests compare them.

#include "platform/ml/VectorKernels.hpp"

#include <cstddef>

#define MQ_VECTOR_KERNEL_DECLARATIONS(Suffix)                                                      \
  float expShiftedInPlace##Suffix(float *x, std::size_t count);                                    \
  void softmaxInPlace##Suffix(float *x, std::size_t count);                                        \
  void layerNorm##Suffix(const float *x, const float *gamma, const float *beta, float epsilon,     \
                         float *out, std::size_t count);                                           \
  void geluInPlace##Suffix(float *x, std::size_t count);                                           \
  void log10InPlace##Suffix(float *x, std::size_t count);                                          \
  float maxValue##Suffix(const float *x, std::size_t count);                                       \
  MaxEntry maxEntry##Suffix(const float *x, std::size_t count);                                    \
  float sumExp##Suffix(const float *x, std::size_t count, float scale, float shift);

// Defines, in the including namespace, the entry points above for `Suffix` over the vector type
// `V` (VectorOpsBodies.hpp included).
#define MQ_VECTOR_KERNEL_ENTRY_POINTS(V, Suffix)                                                   \
  float expShiftedInPlace##Suffix(float *x, std::size_t count) {                                   \
    return bodies::expShiftedInPlace<V>(x, count);                                                 \
  }                                                                                                \
  void softmaxInPlace##Suffix(float *x, std::size_t count) {                                       \
    vectorbodies::softmaxInPlaceBody<V>(x, count);                                                 \
  }                                                                                                \
  void layerNorm##Suffix(const float *x, const float *gamma, const float *beta, float epsilon,     \
                         float *out, std::size_t count) {                                          \
    vectorbodies::layerNormBody(x, gamma, beta, epsilon, out, count);                              \
  }                                                                                                \
  void geluInPlace##Suffix(float *x, std::size_t count) {                                          \
    vectorbodies::geluInPlaceBody<V>(x, count);                                                    \
  }                                                                                                \
  void log10InPlace##Suffix(float *x, std::size_t count) {                                         \
    vectorbodies::log10InPlaceBody<V>(x, count);                                                   \
  }                                                                                                \
  float maxValue##Suffix(const float *x, std::size_t count) {                                      \
    return bodies::maxValue<V>(x, count);                                                          \
  }                                                                                                \
  MaxEntry maxEntry##Suffix(const float *x, std::size_t count) {                                   \
    return bodies::maxEntry<V>(x, count);                                                          \
  }                                                                                                \
  float sumExp##Suffix(const float *x, std::size_t count, float scale, float shift) {              \
    return bodies::sumExp<V>(x, count, scale, shift);                                              \
  }

namespace platform::runner::simd {

MQ_VECTOR_KERNEL_DECLARATIONS(Baseline)
MQ_VECTOR_KERNEL_DECLARATIONS(Avx2)
MQ_VECTOR_KERNEL_DECLARATIONS(Avx512)

} // namespace platform::runner::simd
