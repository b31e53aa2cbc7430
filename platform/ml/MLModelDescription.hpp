#pragma once

#include "platform/ml/MLFeatureValue.hpp"
#include "platform/ml/MLMultiArray.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// What a multi-array feature must look like: its fixed shape and element type.
struct MLMultiArrayConstraint {
  MLMultiArray::Shape shape; // e.g. {1, 80, 1, 3000}
  MLMultiArrayDataType dataType = MLMultiArrayDataType::float32;
};

// One named input or output of a model.
struct MLFeatureDescription {
  std::string name;
  MLFeatureType type = MLFeatureType::invalid;
  bool isOptional = false;                                    // an input the model may go without
  std::optional<MLMultiArrayConstraint> multiArrayConstraint; // present for multi-array features
};

// The named inputs and outputs of a model, plus free-form metadata.
struct MLModelDescription {
  std::map<std::string, MLFeatureDescription> inputDescriptionsByName;
  std::map<std::string, MLFeatureDescription> outputDescriptionsByName;
  std::map<std::string, std::string> metadata;
};

} // namespace platform
