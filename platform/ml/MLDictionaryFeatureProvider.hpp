#pragma once

#include "platform/ml/MLFeatureProvider.hpp"

#include <map>

namespace platform {

// A feature provider over a fixed map of names to values. Immutable after construction, so
// safe to read from several threads.
class MLDictionaryFeatureProvider final : public MLFeatureProvider {
public:
  using Dictionary = std::map<std::string, MLFeatureValue>;

  explicit MLDictionaryFeatureProvider(Dictionary dictionary)
      : dictionary_(std::move(dictionary)) {}
  // Each array wrapped in a multi-array feature value.
  explicit MLDictionaryFeatureProvider(const std::map<std::string, MLMultiArray> &arrays);

  std::set<std::string> featureNames() const override;
  std::optional<MLFeatureValue> featureValue(const std::string &name) const override;
  const MLFeatureValue *storedFeatureValue(const std::string &name) const override;

  const Dictionary &dictionary() const { return dictionary_; }

private:
  Dictionary dictionary_;
};

} // namespace platform
