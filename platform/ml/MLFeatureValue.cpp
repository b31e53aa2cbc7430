#include "platform/ml/MLFeatureValue.hpp"

namespace platform {

MLFeatureType MLFeatureValue::type() const {
  switch (value_.index()) {
  case 1:
    return MLFeatureType::int64;
  case 2:
    return MLFeatureType::double_;
  case 3:
    return MLFeatureType::string;
  case 4:
    return MLFeatureType::multiArray;
  default:
    return MLFeatureType::invalid;
  }
}

std::optional<MLMultiArray> MLFeatureValue::multiArrayValue() const {
  if (auto *array = std::get_if<MLMultiArray>(&value_)) {
    return *array;
  }
  return std::nullopt;
}

std::optional<std::int64_t> MLFeatureValue::int64Value() const {
  if (auto *integer = std::get_if<std::int64_t>(&value_)) {
    return *integer;
  }
  return std::nullopt;
}

std::optional<std::string> MLFeatureValue::stringValue() const {
  if (auto *text = std::get_if<std::string>(&value_)) {
    return *text;
  }
  return std::nullopt;
}

} // namespace platform
