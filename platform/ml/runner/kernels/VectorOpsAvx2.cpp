// Compiled with -mavx2 -mfma (see the runner's CMakeLists.txt). Include nothing that instantiates
// inline library code here: such code would be built for this instruction set and could be picked
// by the linker for callers on CPUs without it.

#include "platform/ml/runner/kernels/VectorOpsBodies.hpp"
#include "platform/ml/runner/kernels/VectorOpsSimd.hpp"

namespace platform::runner::simd {

float expShiftedInPlaceAvx2(float *x, std::size_t count) {
  return vectorbodies::expShiftedInPlaceBody(x, count);
}

void softmaxInPlaceAvx2(float *x, std::size_t count) { vectorbodies::softmaxInPlaceBody(x, count); }

void layerNormAvx2(const float *x, const float *gamma, const float *beta, float epsilon, float *out,
                   std::size_t count) {
  vectorbodies::layerNormBody(x, gamma, beta, epsilon, out, count);
}

void geluInPlaceAvx2(float *x, std::size_t count) { vectorbodies::geluInPlaceBody(x, count); }

void log10InPlaceAvx2(float *x, std::size_t count) { vectorbodies::log10InPlaceBody(x, count); }

} // namespace platform::runner::simd
