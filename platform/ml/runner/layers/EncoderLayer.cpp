#include "platform/ml/runner/layers/EncoderLayer.hpp"

#include "platform/ml/runner/ops/Attention.hpp"
#include "platform/ml/runner/ops/RowOps.hpp"

namespace platform::runner {

namespace {
SequenceAttention attentionShape(const EncoderLayerShape &shape) {
  return {shape.length, shape.length, shape.heads, shape.width / shape.heads};
}
} // namespace

std::size_t EncoderLayerShape::scratchSize() const {
  // normed, qkv, attended, attention scratch, row scales, ffn
  return length * width + length * 3 * width + length * width +
         sequenceAttentionScratchSize(attentionShape(*this)) + length + length * ffnWidth;
}

void encoderLayerForward(const EncoderLayerWeights &weights, const EncoderLayerShape &shape,
                         float *x, float *scratch, float *weightScratch) {
  const std::size_t n = shape.length;
  const std::size_t d = shape.width;
  float *normed = scratch;
  float *qkv = normed + n * d;
  float *attended = qkv + n * 3 * d;
  float *scores = attended + n * d;
  const SequenceAttention attention = attentionShape(shape);
  float *rowScales = scores + sequenceAttentionScratchSize(attention);
  float *ffn = rowScales + n;

  layerNormRows(x, n, d, weights.attentionNorm.gamma, weights.attentionNorm.beta, kLayerNormEpsilon,
                normed);
  linear(normed, n, weights.attention.qkv, weights.attention.qkvBias, qkv, 0, 0, weightScratch);
  attendSequence(attention, qkv, qkv + d, qkv + 2 * d, 3 * d, scores, rowScales, attended, d);
  // Biases are added in the passes that follow each product instead of passes of their own.
  linear(attended, n, weights.attention.out, nullptr, normed, 0, 0, weightScratch);
  addRowsWithBias(x, normed, weights.attention.outBias, n, d);

  layerNormRows(x, n, d, weights.mlpNorm.gamma, weights.mlpNorm.beta, kLayerNormEpsilon, normed);
  linearGelu(normed, n, weights.mlp.fc1, weights.mlp.fc1Bias, ffn, weightScratch);
  linear(ffn, n, weights.mlp.fc2, nullptr, normed, 0, 0, weightScratch);
  addRowsWithBias(x, normed, weights.mlp.fc2Bias, n, d);
}

} // namespace platform::runner
