#pragma once

#include "platform/ml/runner/formats/SafeTensorsFile.hpp"
#include "platform/ml/runner/layers/LayerWeights.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::runner {

// Holds a network's weights for the network's life. Matrices stored as float16 stay float16: read
// in place from the file's memory map, which the store keeps alive, or copied as they are when the
// file places them at an odd byte. Float32 matrices, and the vectors (norms and biases, a small
// share of the bytes) of either type, are held as float32 copies. Pointers it hands out stay valid
// for the store's life. Loading is single-threaded; reading afterwards is safe from any thread.
class WeightStore {
public:
  explicit WeightStore(const SafeTensorsFile &file) : file_(&file), mapping_(file.mapping()) {}
  WeightStore(const WeightStore &) = delete;
  WeightStore &operator=(const WeightStore &) = delete;

  // The named tensor widened to float32, which must have `shape`.
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

  // Bytes of weights the store holds in its own memory (widened or copied).
  std::size_t ownedBytes() const { return ownedBytes_; }
  // Bytes of weights read in place from the file's memory map.
  std::size_t mappedBytes() const { return mappedBytes_; }
  // The largest MatrixView::widenedSize() of the matrices handed out.
  std::size_t largestWidenedSize() const { return largestWidened_; }

private:
  float *allocate(std::size_t count);
  // The float16 elements of a checked tensor, in place when aligned, else copied.
  const std::uint16_t *halfElements(const SafeTensorsFile::Tensor &tensor);
  MatrixView track(MatrixView view);
  // Stacks equally wide matrices (and their optional biases) into one block.
  void stack(const std::string &prefix, const std::vector<std::string> &parts, std::size_t width,
             MatrixView &weights, const float *&bias);

  const SafeTensorsFile *file_; // only while the network loads
  std::shared_ptr<const platform::MemoryMapping> mapping_;
  std::vector<std::unique_ptr<float[]>> blocks_;
  std::vector<std::unique_ptr<std::uint16_t[]>> halfBlocks_;
  std::size_t ownedBytes_ = 0;
  std::size_t mappedBytes_ = 0;
  std::size_t largestWidened_ = 0;
};

} // namespace platform::runner
