#pragma once

#include "platform/ml/MLFeatureProvider.hpp"
#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/MLShapedArray.hpp"

#include <memory>
#include <optional>

namespace divuvovize {

// Typed access to the decoder model's result of one step.
class TextDecoderOutput : public platform::MLFeatureProvider {
public:
  explicit TextDecoderOutput(std::shared_ptr<const platform::MLFeatureProvider> provider)
      : provider(std::move(provider)) {}
  // A result holding "logits", "key_cache_updates" and "value_cache_updates"; the fourth array
  // is accepted for the call's shape and not kept.
  TextDecoderOutput(platform::MLMultiArray logits, platform::MLMultiArray key_cache_updates,
                    platform::MLMultiArray value_cache_updates,
                    const platform::MLMultiArray &logits_deduve);

  std::set<std::string> featureNames() const override { return provider->featureNames(); }
  std::optional<platform::MLFeatureValue> featureValue(const std::string &name) const override {
    return provider->featureValue(name);
  }

  // The required arrays; each throws MLModelError when the result lacks it.
  platform::MLMultiArray logits() const;
  platform::MLMultiArray key_cache_updates() const;
  platform::MLMultiArray value_cache_updates() const;
  // Absent when the model has no alignment output.
  std::optional<platform::MLMultiArray> alignment_heads_weights() const;

  platform::MLShapedArray<platform::Float16> logitsShapedArray() const;
  platform::MLShapedArray<platform::Float16> key_cache_updatesShapedArray() const;
  platform::MLShapedArray<platform::Float16> value_cache_updatesShapedArray() const;
  std::optional<platform::MLShapedArray<platform::Float16>>
  alignment_heads_weightsShapedArray() const;

  std::shared_ptr<const platform::MLFeatureProvider> provider;
};

} // namespace divuvovize
