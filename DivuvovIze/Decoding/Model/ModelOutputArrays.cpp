#include "DivuvovIze/Decoding/Model/ModelOutputArrays.hpp"

#include "platform/ml/MLModelError.hpp"

#include <vector>

namespace divuvovize {

platform::MLMultiArray requiredOutputArray(const platform::MLFeatureProvider &provider,
                                           const std::string &name) {
  auto array = optionalOutputArray(provider, name);
  if (!array) {
    throw platform::MLModelError(platform::MLModelError::Code::featureType,
                                 "model output has no multi-array feature " + name);
  }
  return *array;
}

std::optional<platform::MLMultiArray>
optionalOutputArray(const platform::MLFeatureProvider &provider, const std::string &name) {
  const auto value = provider.featureValue(name);
  if (!value) {
    return std::nullopt;
  }
  return value->multiArrayValue();
}

platform::MLShapedArray<platform::Float16> float16ShapedArray(const platform::MLMultiArray &array) {
  if (array.dataType() == platform::MLMultiArrayDataType::float16) {
    return platform::MLShapedArray<platform::Float16>(array);
  }
  std::vector<platform::Float16> scalars(static_cast<std::size_t>(array.count()));
  for (int i = 0; i < array.count(); ++i) {
    scalars[static_cast<std::size_t>(i)] = static_cast<platform::Float16>(array.value(i));
  }
  return platform::MLShapedArray<platform::Float16>(array.shape(), std::move(scalars));
}

} // namespace divuvovize
