#pragma once

#include "platform/ml/runner/layers/LayerWeights.hpp"

#include <cstddef>

namespace platform::runner {

struct EncoderLayerShape {
  std::size_t length = 0; // sequence positions
  std::size_t width = 0;  // model dimension D
  std::size_t heads = 0;
  std::size_t ffnWidth = 0;
  // Floats of scratch one forward pass needs.
  std::size_t scratchSize() const;
};

// One pre-norm encoder block, in place on x[length x width]:
// x += attention(norm(x)); x += mlp(norm(x)). Float16 matrices are widened into `weightScratch`
// (the largest matrix's widenedSize() floats; unused for float32 weights) just before each
// product. Calls BLAS: not from inside parallelFor.
void encoderLayerForward(const EncoderLayerWeights &weights, const EncoderLayerShape &shape,
                         float *x, float *scratch, float *weightScratch);

} // namespace platform::runner
