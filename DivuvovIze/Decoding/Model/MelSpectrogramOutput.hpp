#pragma once

#include "platform/ml/MLFeatureProvider.hpp"
#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/MLShapedArray.hpp"

#include <memory>

namespace divuvovize {

// Typed access to the mel model's prediction result.
class MelSpectrogramOutput : public platform::MLFeatureProvider {
public:
  explicit MelSpectrogramOutput(std::shared_ptr<const platform::MLFeatureProvider> provider)
      : provider(std::move(provider)) {}
  // A result holding just this array.
  explicit MelSpectrogramOutput(platform::MLMultiArray melspectrogram_features);

  std::set<std::string> featureNames() const override { return provider->featureNames(); }
  std::optional<platform::MLFeatureValue> featureValue(const std::string &name) const override {
    return provider->featureValue(name);
  }

  // "melspectrogram_features"; throws MLModelError when the result has no such array.
  platform::MLMultiArray melspectrogramFeatures() const;
  platform::MLShapedArray<platform::Float16> melspectrogram_featuresShapedArray() const;

  std::shared_ptr<const platform::MLFeatureProvider> provider;
};

} // namespace divuvovize
