#pragma once

#include "platform/ml/runner/formats/ModelConfig.hpp"
#include "platform/ml/runner/layers/EncoderLayer.hpp"
#include "platform/ml/runner/models/WeightStore.hpp"

#include <vector>

namespace platform::runner {

// The encoder: two convolutions with GELU (the second halving the time axis), added position
// embeddings, pre-norm blocks and a final layer norm. Weights are read by their checkpoint names
// under "model.encoder."; float16 matrices are widened block by block into the scratch just before
// each product. Immutable after construction; forward() is reentrant with distinct
// scratch.
class AudioEncoderNetwork {
public:
  AudioEncoderNetwork(const ModelDimensions &dimensions, const SafeTensorsFile &weights);

  const ModelDimensions &dimensions() const { return dimensions_; }
  std::size_t scratchSize() const;
  // mel: [n_mels x 2 * positions] channel-major. Returns the [positions x D] time-major output,
  // which lives in `scratch`. Calls BLAS: not from inside parallelFor.
  const float *forward(const float *mel, float *scratch) const;
  // Multiply-adds times two of one forward pass, for throughput figures.
  double flops() const;

private:
  // Floats of the stem's and the layers' working space, before the weight scratch.
  std::size_t workSize() const;

  ModelDimensions dimensions_;
  WeightStore store_;
  MatrixView conv1_;
  const float *conv1Bias_ = nullptr;
  MatrixView conv2_;
  const float *conv2Bias_ = nullptr;
  MatrixView positions_;
  std::vector<EncoderLayerWeights> layers_;
  LayerNormWeights finalNorm_;
  EncoderLayerShape layerShape_;
};

} // namespace platform::runner
