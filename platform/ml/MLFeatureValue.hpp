#pragma once

#include "platform/ml/MLMultiArray.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace platform {

enum class MLFeatureType { invalid, int64, double_, string, multiArray };

// One named input or output of a model: a number, a text or a multi-array. A value; a
// multi-array inside shares its storage with the array it was made from.
class MLFeatureValue {
public:
  // An undefined value (type invalid).
  MLFeatureValue() = default;
  explicit MLFeatureValue(MLMultiArray multiArray) : value_(std::move(multiArray)) {}
  explicit MLFeatureValue(std::int64_t integer) : value_(integer) {}
  explicit MLFeatureValue(double number) : value_(number) {}
  explicit MLFeatureValue(std::string text) : value_(std::move(text)) {}

  MLFeatureType type() const;
  bool isUndefined() const { return type() == MLFeatureType::invalid; }

  // The payload when the value has that type; absent otherwise.
  std::optional<MLMultiArray> multiArrayValue() const;
  std::optional<std::int64_t> int64Value() const;
  std::optional<std::string> stringValue() const;
  // The multi-array held by this value without copying its handle, or null; valid while the
  // value lives and is unchanged.
  const MLMultiArray *multiArrayPointer() const { return std::get_if<MLMultiArray>(&value_); }

private:
  std::variant<std::monostate, std::int64_t, double, std::string, MLMultiArray> value_;
};

} // namespace platform
