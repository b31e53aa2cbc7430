#pragma once

#include "platform/ml/runner/ops/Linear.hpp"

namespace platform::runner {

// Views of one transformer block's weights: matrices float16 or float32 (see MatrixView), norms
// and biases float32. The model that loaded them owns the storage and outlives every view.

struct LayerNormWeights {
  const float *gamma = nullptr;
  const float *beta = nullptr;
};

// Self-attention with the query, key and value projections stacked into one [3D x D] matrix
// (the key projection has no bias in the checkpoints; its slice of `qkvBias` is zero).
struct SelfAttentionWeights {
  MatrixView qkv;
  const float *qkvBias = nullptr;
  MatrixView out;
  const float *outBias = nullptr;
};

// Cross-attention: the query comes from the decoder, keys and values ([2D x D], stacked) from the
// encoder output.
struct CrossAttentionWeights {
  MatrixView q;
  const float *qBias = nullptr;
  MatrixView kv;
  const float *kvBias = nullptr;
  MatrixView out;
  const float *outBias = nullptr;
};

struct MlpWeights {
  MatrixView fc1;
  const float *fc1Bias = nullptr;
  MatrixView fc2;
  const float *fc2Bias = nullptr;
};

struct EncoderLayerWeights {
  LayerNormWeights attentionNorm;
  SelfAttentionWeights attention;
  LayerNormWeights mlpNorm;
  MlpWeights mlp;
};

struct DecoderLayerWeights {
  LayerNormWeights selfAttentionNorm;
  SelfAttentionWeights selfAttention;
  LayerNormWeights crossAttentionNorm;
  CrossAttentionWeights crossAttention;
  LayerNormWeights mlpNorm;
  MlpWeights mlp;
};

// The layer norm epsilon of the checkpoints this runner reads.
inline constexpr float kLayerNormEpsilon = 1.0e-5f;

} // namespace platform::runner
