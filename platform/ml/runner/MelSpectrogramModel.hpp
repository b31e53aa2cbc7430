#pragma once

#include "platform/ml/runner/RunnerModel.hpp"
#include "platform/ml/runner/kernels/ObjectPool.hpp"
#include "platform/ml/runner/models/MelSpectrogramNetwork.hpp"

#include <memory>
#include <vector>

namespace platform::runner {

// "audio" [n_samples] -> "melspectrogram_features" [1, n_mels, 1, frames].
class MelSpectrogramModel final : public RunnerModel {
public:
  MelSpectrogramModel(std::filesystem::path folder, ModelConfig config);

  std::shared_ptr<MLFeatureProvider> prediction(const MLFeatureProvider &input,
                                                const MLPredictionOptions &options) const override;
  using MLModel::prediction;

private:
  std::unique_ptr<MelSpectrogramNetwork> network_;
  mutable ObjectPool<std::vector<float>> scratch_;
};

} // namespace platform::runner
