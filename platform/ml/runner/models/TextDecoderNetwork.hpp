#pragma once

#include "platform/ml/runner/formats/ModelConfig.hpp"
#include "platform/ml/runner/layers/DecoderLayer.hpp"
#include "platform/ml/runner/models/WeightStore.hpp"

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

namespace platform::runner {

// The decoder, one position per step: token and learned position embeddings, pre-norm blocks
// with self-attention over a float16 key/value cache and cross-attention over the encoder output,
// a final layer norm and logits through the tied token embedding. Float16 matrices are read as
// they are stored, widened in the inner loop. Weights are read by their
// checkpoint names under "model.decoder.". Immutable after construction; step() is reentrant with
// distinct workspaces.
class TextDecoderNetwork {
public:
  TextDecoderNetwork(const ModelDimensions &dimensions,
                     std::vector<std::pair<std::size_t, std::size_t>> alignmentHeads,
                     const SafeTensorsFile &weights);

  // Everything one step needs besides its inputs and outputs, allocated once and reused.
  class Workspace {
  public:
    explicit Workspace(const ModelDimensions &dimensions);

  private:
    friend class TextDecoderNetwork;
    std::vector<float> x, normed, qkv, attended, projected, ffn, partial, scores, crossWeights;
    std::vector<float> memoryPartials;
    std::vector<std::size_t> runs;
    std::vector<std::atomic<std::uint32_t>> headsDone;
  };

  struct StepInput {
    std::int32_t token = 0;
    std::int32_t position = 0;               // index into the learned positions
    const std::uint16_t *keyCache = nullptr; // [layers * D x S] float16 bits, channel-major
    const std::uint16_t *valueCache = nullptr;
    const std::int32_t *updateMask = nullptr; // S: non-zero at the slot this step writes
    const float *paddingMask = nullptr;       // S: 0 attends, -10000 masks
    // From computeMemory(): float32 in `memory` or float16 bits in `halfMemory` (set one).
    const float *memory = nullptr;
    const std::uint16_t *halfMemory = nullptr;
  };
  struct StepOutput {
    float *logits = nullptr;    // vocabulary
    float *newKeys = nullptr;   // layers * D
    float *newValues = nullptr; // layers * D
    float *alignment = nullptr; // audio positions, or null when not wanted
  };

  const ModelDimensions &dimensions() const { return dimensions_; }
  const std::vector<std::pair<std::size_t, std::size_t>> &alignmentHeads() const {
    return alignmentHeads_;
  }

  // Elements of one encoder output's cross-attention memory.
  std::size_t memorySize() const;
  // Whether the memory is best held as float16: so when the decoder's weights are, since every
  // step streams the whole memory and float16 halves its bytes. Float32 weights keep float32.
  bool memoryIsHalf() const;
  // encoder: [D x audio positions] channel-major. With float16 weights it allocates one scratch
  // of a layer's widened cross-attention key/value matrices per call. Calls BLAS: not from inside
  // parallelFor.
  void computeMemory(const float *encoder, float *memory) const;
  // The same narrowed to float16 bits, each layer's packed by packHalfMemory; also allocates one
  // layer's float32 memory per call.
  void computeMemory(const float *encoder, std::uint16_t *memory) const;

  // One step. Throws MLModelError (featureType) for a token outside the vocabulary or a position
  // outside the learned positions. Never allocates. Calls BLAS: not from inside parallelFor.
  void step(const StepInput &input, Workspace &workspace, const StepOutput &output) const;

  // Bytes of weights one step reads (as held: float16 matrices at two bytes an element), for
  // bandwidth figures.
  double weightBytesPerStep() const;

private:
  // Floats of the widened weights computeMemory needs.
  std::size_t crossScratchSize() const;

  ModelDimensions dimensions_;
  std::vector<std::pair<std::size_t, std::size_t>> alignmentHeads_;
  WeightStore store_;
  MatrixView tokens_;
  MatrixView positions_;
  std::vector<DecoderLayerWeights> layers_;
  LayerNormWeights finalNorm_;
  DecoderLayerShape layerShape_;
};

} // namespace platform::runner
