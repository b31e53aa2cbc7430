#include "platform/ml/runner/models/WeightStore.hpp"

#include <algorithm>
#include <bit>

namespace platform::runner {

float *WeightStore::allocate(std::size_t count) {
  blocks_.push_back(std::make_unique<float[]>(count));
  ownedBytes_ += count * sizeof(float);
  return blocks_.back().get();
}

const float *WeightStore::tensor(const std::string &name, const std::vector<std::size_t> &shape) {
  // Checked before allocating, so a description that disagrees with the file fails with a clear
  // message instead of an attempt at a huge allocation.
  float *data = allocate(file_->tensor(name, shape).elementCount());
  file_->readFloatsInto(name, shape, data);
  return data;
}

const std::uint16_t *WeightStore::halfElements(const SafeTensorsFile::Tensor &tensor) {
  const std::uint8_t *bytes = file_->bytes(tensor);
  const std::size_t count = tensor.elementCount();
  if constexpr (std::endian::native == std::endian::little) {
    if (reinterpret_cast<std::uintptr_t>(bytes) % alignof(std::uint16_t) == 0) {
      mappedBytes_ += tensor.byteCount;
      return reinterpret_cast<const std::uint16_t *>(bytes);
    }
  }
  halfBlocks_.push_back(std::make_unique<std::uint16_t[]>(count));
  std::uint16_t *copy = halfBlocks_.back().get();
  for (std::size_t i = 0; i < count; ++i) {
    copy[i] = static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  ownedBytes_ += tensor.byteCount;
  return copy;
}

MatrixView WeightStore::track(MatrixView view) {
  largestWidened_ = std::max(largestWidened_, view.widenedSize());
  return view;
}

MatrixView WeightStore::matrix(const std::string &name, const std::vector<std::size_t> &shape) {
  std::size_t cols = 1;
  for (std::size_t i = 1; i < shape.size(); ++i) {
    cols *= shape[i];
  }
  const std::size_t rows = shape.empty() ? 0 : shape[0];
  const SafeTensorsFile::Tensor &entry = file_->tensor(name, shape);
  if (entry.type == SafeTensorsFile::ElementType::float16) {
    MatrixView view{nullptr, rows, cols};
    view.half[0] = halfElements(entry);
    view.halfBlocks = 1;
    return track(view);
  }
  return {tensor(name, shape), rows, cols};
}

LayerNormWeights WeightStore::layerNorm(const std::string &prefix, std::size_t width) {
  return {tensor(prefix + ".weight", {width}), tensor(prefix + ".bias", {width})};
}

void WeightStore::stack(const std::string &prefix, const std::vector<std::string> &parts,
                        std::size_t width, MatrixView &weights, const float *&bias) {
  const std::size_t n = parts.size();
  bool allHalf = true;
  for (const auto &part : parts) {
    const auto &entry = file_->tensor(prefix + "." + part + ".weight", {width, width});
    allHalf = allHalf && entry.type == SafeTensorsFile::ElementType::float16;
  }
  float *biases = allocate(n * width);
  if (allHalf) {
    weights = {nullptr, n * width, width};
    weights.halfBlocks = n;
    for (std::size_t i = 0; i < n; ++i) {
      weights.half[i] =
          halfElements(file_->tensor(prefix + "." + parts[i] + ".weight", {width, width}));
    }
    track(weights);
  } else {
    float *matrix = allocate(n * width * width);
    for (std::size_t i = 0; i < n; ++i) {
      file_->readFloatsInto(prefix + "." + parts[i] + ".weight", {width, width},
                            matrix + i * width * width);
    }
    weights = {matrix, n * width, width};
  }
  for (std::size_t i = 0; i < n; ++i) {
    const std::string name = prefix + "." + parts[i];
    // The key projection of these checkpoints carries no bias; the others must have one.
    if (parts[i] == "k_proj" && !file_->contains(name + ".bias")) {
      std::fill(biases + i * width, biases + (i + 1) * width, 0.0f);
    } else {
      file_->readFloatsInto(name + ".bias", {width}, biases + i * width);
    }
  }
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
