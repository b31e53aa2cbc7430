#pragma once

#include "platform/ml/MLFeatureProvider.hpp"
#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/MLShapedArray.hpp"

namespace divuvovize {

// The encoder model's input: the log-mel features as feature "melspectrogram_features".
class AudioEncoderInput : public platform::MLFeatureProvider {
public:
  explicit AudioEncoderInput(platform::MLMultiArray melspectrogram_features)
      : melspectrogram_features(std::move(melspectrogram_features)) {}
  explicit AudioEncoderInput(const platform::MLShapedArray<float> &melspectrogram_features)
      : melspectrogram_features(melspectrogram_features.toMLMultiArray()) {}

  // {"melspectrogram_features"}
  std::set<std::string> featureNames() const override;
  // The array for "melspectrogram_features"; absent for any other name.
  std::optional<platform::MLFeatureValue> featureValue(const std::string &name) const override;

  platform::MLMultiArray melspectrogram_features;
};

} // namespace divuvovize
