#include "platform/ml/runner/models/AudioEncoderNetwork.hpp"

#include "platform/ml/runner/ops/Conv1d.hpp"
#include "platform/ml/runner/ops/RowOps.hpp"

#include <algorithm>
#include <string>

namespace platform::runner {

AudioEncoderNetwork::AudioEncoderNetwork(const ModelDimensions &dimensions,
                                         const SafeTensorsFile &weights)
    : dimensions_(dimensions), store_(weights) {
  const std::size_t d = dimensions.width;
  const std::string p = "model.encoder.";
  conv1_ = store_.matrix(p + "conv1.weight", {d, dimensions.melCount, 3});
  conv1Bias_ = store_.tensor(p + "conv1.bias", {d});
  conv2_ = store_.matrix(p + "conv2.weight", {d, d, 3});
  conv2Bias_ = store_.tensor(p + "conv2.bias", {d});
  positions_ = store_.matrix(p + "embed_positions.weight", {dimensions.audioContext, d});
  for (std::size_t i = 0; i < dimensions.encoderLayers; ++i) {
    const std::string layer = p + "layers." + std::to_string(i) + ".";
    EncoderLayerWeights w;
    w.attentionNorm = store_.layerNorm(layer + "self_attn_layer_norm", d);
    w.attention = store_.selfAttention(layer + "self_attn", d);
    w.mlpNorm = store_.layerNorm(layer + "final_layer_norm", d);
    w.mlp = store_.mlp(p + "layers." + std::to_string(i), d, dimensions.ffnWidth);
    layers_.push_back(w);
  }
  finalNorm_ = store_.layerNorm(p + "layer_norm", d);
  layerShape_ = {dimensions.audioContext, d, dimensions.encoderHeads, dimensions.ffnWidth};
}

std::size_t AudioEncoderNetwork::workSize() const {
  const std::size_t t = dimensions_.audioContext;
  const std::size_t d = dimensions_.width;
  const std::size_t columns = std::max(2 * t * dimensions_.melCount * 3, t * d * 3);
  return std::max(2 * t * d + columns, layerShape_.scratchSize());
}

std::size_t AudioEncoderNetwork::scratchSize() const {
  return dimensions_.audioContext * dimensions_.width + workSize() + store_.largestWidenedSize();
}

const float *AudioEncoderNetwork::forward(const float *mel, float *scratch) const {
  const std::size_t t = dimensions_.audioContext;
  const std::size_t d = dimensions_.width;
  float *x = scratch;
  float *work = x + t * d;
  float *stem = work; // [2T x D]
  float *columns = stem + 2 * t * d;
  float *weightScratch = work + workSize();

  const Conv1dShape first{dimensions_.melCount, 2 * t, 3, 1, 1};
  conv1d({mel, 2 * t, 1}, first, conv1_, conv1Bias_, columns, stem, weightScratch, true);
  const Conv1dShape second{d, 2 * t, 3, 2, 1};
  conv1d({stem, 1, d}, second, conv2_, conv2Bias_, columns, x, weightScratch, true);
  if (positions_.isHalf()) {
    addMatrix(x, positions_);
  } else {
    addAll(x, positions_.data, t * d);
  }

  for (const auto &layer : layers_) {
    encoderLayerForward(layer, layerShape_, x, work, weightScratch);
  }
  layerNormRows(x, t, d, finalNorm_.gamma, finalNorm_.beta, kLayerNormEpsilon, x);
  return x;
}

double AudioEncoderNetwork::flops() const {
  const double t = static_cast<double>(dimensions_.audioContext);
  const double d = static_cast<double>(dimensions_.width);
  const double f = static_cast<double>(dimensions_.ffnWidth);
  const double mels = static_cast<double>(dimensions_.melCount);
  const double stem = 2.0 * (2 * t * d * mels * 3 + t * d * d * 3);
  const double perLayer = 2.0 * (t * 4 * d * d + 2 * t * t * d + 2 * t * d * f);
  return stem + perLayer * static_cast<double>(dimensions_.encoderLayers);
}

} // namespace platform::runner
