#pragma once

#include "platform/ml/runner/layers/LayerWeights.hpp"
#include "platform/ml/runner/models/SafeTensorsFile.hpp"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace platform::runner {

// Owns a network's float32 weights, widened once from the weights file at load. Pointers it
// hands out stay valid for the store's life. Loading is single-threaded; reading afterwards is
// safe from any thread.
class WeightStore {
public:
  explicit WeightStore(const SafeTensorsFile &file) : file_(file) {}

  // The named tensor, which must have `shape`.
  const float *tensor(const std::string &name, const std::vector<std::size_t> &shape);
  // The named tensor as a matrix: the first dimension is the rows, the rest folded into columns.
  MatrixView matrix(const std::string &name, const std::vector<std::size_t> &shape);
  // A [D] layer norm: <prefix>.weight and <prefix>.bias.
  LayerNormWeights layerNorm(const std::string &prefix, std::size_t width);
  // <prefix>.q_proj, k_proj, v_proj stacked into [3D x D] with stacked biases (a key bias is
  // used when the file has one, zeros otherwise), and <prefix>.out_proj.
  SelfAttentionWeights selfAttention(const std::string &prefix, std::size_t width);
  // <prefix>.q_proj alone, k_proj and v_proj stacked into [2D x D], and <prefix>.out_proj.
  CrossAttentionWeights crossAttention(const std::string &prefix, std::size_t width);
  // <prefix>.fc1 ([F x D]) and <prefix>.fc2 ([D x F]).
  MlpWeights mlp(const std::string &prefix, std::size_t width, std::size_t ffnWidth);

  // Total float32 elements held.
  std::size_t elementCount() const { return elements_; }

private:
  float *allocate(std::size_t count);
  // Stacks equally wide matrices (and their optional biases) into one block.
  void stack(const std::string &prefix, const std::vector<std::string> &parts, std::size_t width,
             MatrixView &weights, const float *&bias);

  const SafeTensorsFile &file_;
  std::vector<std::unique_ptr<float[]>> blocks_;
  std::size_t elements_ = 0;
};

} // namespace platform::runner
