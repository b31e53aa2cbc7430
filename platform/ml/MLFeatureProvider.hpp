#pragma once

#include "platform/ml/MLFeatureValue.hpp"

#include <optional>
#include <set>
#include <string>

namespace platform {

// A set of named feature values: a model's inputs, or the outputs of a prediction.
// Implementations used by several threads at once must be safe for concurrent reads.
class MLFeatureProvider {
public:
  virtual ~MLFeatureProvider() = default;

  virtual std::set<std::string> featureNames() const = 0;
  // The value of the named feature; absent for a name the provider does not have (names are
  // case-sensitive).
  virtual std::optional<MLFeatureValue> featureValue(const std::string &name) const = 0;
  // The named value as the provider holds it, without a copy, for providers that store their
  // values; null for an unknown name and for providers that make values on demand (callers then
  // use featureValue). Valid while the provider lives and is unchanged.
  virtual const MLFeatureValue *storedFeatureValue(const std::string & /*name*/) const {
    return nullptr;
  }
};

} // namespace platform
