#pragma once

#include "platform/ml/MLFeatureProvider.hpp"
#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/MLShapedArray.hpp"

#include <memory>

namespace divuvovize {

// Typed access to the encoder model's prediction result.
class AudioEncoderOutput : public platform::MLFeatureProvider {
public:
  explicit AudioEncoderOutput(std::shared_ptr<const platform::MLFeatureProvider> provider)
      : provider(std::move(provider)) {}
  // A result holding just this array.
  explicit AudioEncoderOutput(platform::MLMultiArray encoder_output_embeds);

  std::set<std::string> featureNames() const override { return provider->featureNames(); }
  std::optional<platform::MLFeatureValue> featureValue(const std::string &name) const override {
    return provider->featureValue(name);
  }

  // "encoder_output_embeds"; throws MLModelError when the result has no such array.
  platform::MLMultiArray encoder_output_embeds() const;
  platform::MLShapedArray<platform::Float16> encoder_output_embedsShapedArray() const;

  std::shared_ptr<const platform::MLFeatureProvider> provider;
};

} // namespace divuvovize
