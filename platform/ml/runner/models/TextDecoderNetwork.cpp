#include "platform/ml/runner/models/TextDecoderNetwork.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/kernels/HalfKernels.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"
#include "platform/ml/runner/ops/Attention.hpp"

#include <algorithm>
#include <string>

namespace platform::runner {

TextDecoderNetwork::Workspace::Workspace(const ModelDimensions &d)
    : x(d.width), normed(d.width), qkv(3 * d.width), attended(d.width), projected(d.width),
      ffn(d.ffnWidth), partial(d.width), scores(d.decoderHeads * d.cacheLength),
      crossWeights(d.decoderHeads * d.audioContext),
      memoryPartials(
          memoryAttentionScratchSize({d.decoderHeads, d.width / d.decoderHeads, d.audioContext})),
      runs(d.cacheLength + 1), headsDone(d.decoderHeads) {}

TextDecoderNetwork::TextDecoderNetwork(
    const ModelDimensions &dimensions,
    std::vector<std::pair<std::size_t, std::size_t>> alignmentHeads, const SafeTensorsFile &weights)
    : dimensions_(dimensions), alignmentHeads_(std::move(alignmentHeads)), store_(weights) {
  const std::size_t d = dimensions.width;
  const std::string p = "model.decoder.";
  tokens_ = store_.matrix(p + "embed_tokens.weight", {dimensions.vocabularySize, d});
  positions_ = store_.matrix(p + "embed_positions.weight", {dimensions.textContext, d});
  for (std::size_t i = 0; i < dimensions.decoderLayers; ++i) {
    const std::string layer = p + "layers." + std::to_string(i) + ".";
    DecoderLayerWeights w;
    w.selfAttentionNorm = store_.layerNorm(layer + "self_attn_layer_norm", d);
    w.selfAttention = store_.selfAttention(layer + "self_attn", d);
    w.crossAttentionNorm = store_.layerNorm(layer + "encoder_attn_layer_norm", d);
    w.crossAttention = store_.crossAttention(layer + "encoder_attn", d);
    w.mlpNorm = store_.layerNorm(layer + "final_layer_norm", d);
    w.mlp = store_.mlp(p + "layers." + std::to_string(i), d, dimensions.ffnWidth);
    layers_.push_back(w);
  }
  finalNorm_ = store_.layerNorm(p + "layer_norm", d);
  layerShape_ = {d, dimensions.decoderHeads, dimensions.ffnWidth, dimensions.cacheLength,
                 dimensions.audioContext};
}

std::size_t TextDecoderNetwork::memorySize() const {
  return dimensions_.decoderLayers * 2 * dimensions_.width * dimensions_.audioContext;
}

std::size_t TextDecoderNetwork::crossScratchSize() const {
  // Only the stacked cross-attention key/value matrices are widened for the memory: a scratch the
  // size of the store's largest matrix (the token embedding) would be tens of megabytes per
  // window.
  std::size_t size = 0;
  for (const auto &layer : layers_) {
    size = std::max(size, layer.crossAttention.kv.widenedSize());
  }
  return size;
}

void TextDecoderNetwork::computeMemory(const float *encoder, float *memory) const {
  const std::size_t block = dimensions_.width * dimensions_.audioContext;
  std::vector<float> weightScratch(crossScratchSize());
  for (std::size_t l = 0; l < layers_.size(); ++l) {
    float *keys = memory + 2 * l * block;
    computeCrossMemory(layers_[l].crossAttention, layerShape_, encoder, keys, keys + block,
                       weightScratch.data());
  }
}

bool TextDecoderNetwork::memoryIsHalf() const {
  return !layers_.empty() && layers_.front().crossAttention.kv.isHalf();
}

void TextDecoderNetwork::computeMemory(const float *encoder, std::uint16_t *memory) const {
  const std::size_t block = dimensions_.width * dimensions_.audioContext;
  std::vector<float> weightScratch(crossScratchSize());
  std::vector<float> layerMemory(2 * block);
  for (std::size_t l = 0; l < layers_.size(); ++l) {
    computeCrossMemory(layers_[l].crossAttention, layerShape_, encoder, layerMemory.data(),
                       layerMemory.data() + block, weightScratch.data());
    packHalfMemory(
        {layerShape_.heads, layerShape_.width / layerShape_.heads, layerShape_.memoryLength},
        layerMemory.data(), layerMemory.data() + block, memory + 2 * l * block);
  }
}

void TextDecoderNetwork::step(const StepInput &input, Workspace &w,
                              const StepOutput &output) const {
  const std::size_t d = dimensions_.width;
  if (input.token < 0 || static_cast<std::size_t>(input.token) >= dimensions_.vocabularySize) {
    throw MLModelError(MLModelError::Code::featureType,
                       "input_ids: token " + std::to_string(input.token) +
                           " is outside the vocabulary of " +
                           std::to_string(dimensions_.vocabularySize));
  }
  if (input.position < 0 || static_cast<std::size_t>(input.position) >= dimensions_.textContext) {
    throw MLModelError(MLModelError::Code::featureType,
                       "cache_length: position " + std::to_string(input.position) +
                           " is outside the " + std::to_string(dimensions_.textContext) +
                           " learned positions");
  }
  readMatrixRow(tokens_, static_cast<std::size_t>(input.token), w.x.data());
  readMatrixRow(positions_, static_cast<std::size_t>(input.position), w.normed.data());
  addInPlace(w.x.data(), w.normed.data(), d);
  const DecoderLayerScratch scratch{w.normed.data(),    w.qkv.data(),    w.attended.data(),
                                    w.projected.data(), w.ffn.data(),    w.runs.data(),
                                    w.partial.data(),   w.scores.data(), w.memoryPartials.data(),
                                    w.headsDone.data()};
  const std::size_t s = dimensions_.cacheLength;
  const std::size_t t = dimensions_.audioContext;
  const std::size_t block = d * t;
  if (output.alignment != nullptr) {
    std::fill(output.alignment, output.alignment + t, 0.0f);
  }
  const float headShare =
      alignmentHeads_.empty() ? 0.0f : 1.0f / static_cast<float>(alignmentHeads_.size());
  DecoderLayerShape shape = layerShape_;
  shape.headsTogether = headsTogetherFor(shape.heads, parallelThreadCount());
  for (std::size_t l = 0; l < layers_.size(); ++l) {
    const DecoderCacheView cache{input.keyCache + l * d * s, input.valueCache + l * d * s,
                                 input.updateMask, input.paddingMask};
    CrossMemoryView memory;
    if (input.halfMemory != nullptr) {
      memory.half = input.halfMemory + 2 * l * block;
    } else {
      memory.keysTransposed = input.memory + 2 * l * block;
      memory.valuesTransposed = input.memory + 2 * l * block + block;
    }
    decoderLayerStep(layers_[l], shape, w.x.data(), cache, memory, scratch, output.newKeys + l * d,
                     output.newValues + l * d, w.crossWeights.data());
    if (output.alignment != nullptr) {
      for (const auto &[layer, head] : alignmentHeads_) {
        if (layer == l) {
          axpy(headShare, w.crossWeights.data() + head * t, output.alignment, t);
        }
      }
    }
  }
  layerNorm(w.x.data(), finalNorm_.gamma, finalNorm_.beta, kLayerNormEpsilon, w.normed.data(), d);
  linear(w.normed.data(), 1, tokens_, nullptr, output.logits);
}

double TextDecoderNetwork::weightBytesPerStep() const {
  const double d = static_cast<double>(dimensions_.width);
  const double f = static_cast<double>(dimensions_.ffnWidth);
  // Per layer: stacked qkv and out (4 D^2), cross query and out (2 D^2), the MLP (2 D F), plus
  // the norms and biases; then the token embedding for the logits.
  const double matrixBytes = tokens_.isHalf() ? 2.0 : 4.0;
  const double layers = static_cast<double>(dimensions_.decoderLayers);
  const double matrices =
      (6 * d * d + 2 * d * f) * layers + static_cast<double>(dimensions_.vocabularySize) * d;
  const double vectors = (12 * d + f) * layers + 2 * d;
  return matrixBytes * matrices + 4.0 * vectors;
}

} // namespace platform::runner
