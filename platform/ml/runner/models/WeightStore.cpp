#include "platform/ml/runner/models/WeightStore.hpp"

#include <algorithm>

namespace platform::runner {

float *WeightStore::allocate(std::size_t count) {
  blocks_.push_back(std::make_unique<float[]>(count));
  elements_ += count;
  return blocks_.back().get();
}

const float *WeightStore::tensor(const std::string &name, const std::vector<std::size_t> &shape) {
  // Checked before allocating, so a description that disagrees with the file fails with a clear
  // message instead of an attempt at a huge allocation.
  float *data = allocate(file_.tensor(name, shape).elementCount());
  file_.readFloatsInto(name, shape, data);
  return data;
}

MatrixView WeightStore::matrix(const std::string &name, const std::vector<std::size_t> &shape) {
  std::size_t cols = 1;
  for (std::size_t i = 1; i < shape.size(); ++i) {
    cols *= shape[i];
  }
  return {tensor(name, shape), shape.empty() ? 0 : shape[0], cols};
}

LayerNormWeights WeightStore::layerNorm(const std::string &prefix, std::size_t width) {
  return {tensor(prefix + ".weight", {width}), tensor(prefix + ".bias", {width})};
}

void WeightStore::stack(const std::string &prefix, const std::vector<std::string> &parts,
                        std::size_t width, MatrixView &weights, const float *&bias) {
  const std::size_t n = parts.size();
  for (const auto &part : parts) {
    file_.tensor(prefix + "." + part + ".weight", {width, width});
  }
  float *matrix = allocate(n * width * width);
  float *biases = allocate(n * width);
  for (std::size_t i = 0; i < n; ++i) {
    const std::string name = prefix + "." + parts[i];
    file_.readFloatsInto(name + ".weight", {width, width}, matrix + i * width * width);
    // The key projection of these checkpoints carries no bias; the others must have one.
    if (parts[i] == "k_proj" && !file_.contains(name + ".bias")) {
      std::fill(biases + i * width, biases + (i + 1) * width, 0.0f);
    } else {
      file_.readFloatsInto(name + ".bias", {width}, biases + i * width);
    }
  }
  weights = {matrix, n * width, width};
  bias = biases;
}

SelfAttentionWeights WeightStore::selfAttention(const std::string &prefix, std::size_t width) {
  SelfAttentionWeights weights;
  stack(prefix, {"q_proj", "k_proj", "v_proj"}, width, weights.qkv, weights.qkvBias);
  weights.out = matrix(prefix + ".out_proj.weight", {width, width});
  weights.outBias = tensor(prefix + ".out_proj.bias", {width});
  return weights;
}

CrossAttentionWeights WeightStore::crossAttention(const std::string &prefix, std::size_t width) {
  CrossAttentionWeights weights;
  stack(prefix, {"q_proj"}, width, weights.q, weights.qBias);
  stack(prefix, {"k_proj", "v_proj"}, width, weights.kv, weights.kvBias);
  weights.out = matrix(prefix + ".out_proj.weight", {width, width});
  weights.outBias = tensor(prefix + ".out_proj.bias", {width});
  return weights;
}

MlpWeights WeightStore::mlp(const std::string &prefix, std::size_t width, std::size_t ffnWidth) {
  MlpWeights weights;
  weights.fc1 = matrix(prefix + ".fc1.weight", {ffnWidth, width});
  weights.fc1Bias = tensor(prefix + ".fc1.bias", {ffnWidth});
  weights.fc2 = matrix(prefix + ".fc2.weight", {width, ffnWidth});
  weights.fc2Bias = tensor(prefix + ".fc2.bias", {width});
  return weights;
}

} // namespace platform::runner
