#pragma once

#include "platform/ml/runner/RunnerModel.hpp"
#include "platform/ml/runner/kernels/ObjectPool.hpp"
#include "platform/ml/runner/models/AudioEncoderNetwork.hpp"

#include <memory>
#include <vector>

namespace platform::runner {

// "melspectrogram_features" [1, n_mels, 1, 2 * positions] ->
// "encoder_output_embeds" [1, D, 1, positions].
class AudioEncoderModel final : public RunnerModel {
public:
  AudioEncoderModel(std::filesystem::path folder, ModelConfig config);

  std::shared_ptr<MLFeatureProvider> prediction(const MLFeatureProvider &input,
                                                const MLPredictionOptions &options) const override;
  using MLModel::prediction;

  const AudioEncoderNetwork &network() const { return *network_; }

private:
  std::unique_ptr<AudioEncoderNetwork> network_;
  mutable ObjectPool<std::vector<float>> scratch_;
};

} // namespace platform::runner
