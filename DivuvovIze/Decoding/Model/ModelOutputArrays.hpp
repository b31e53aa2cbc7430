#pragma once

#include "platform/ml/MLFeatureProvider.hpp"
#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/MLShapedArray.hpp"

#include <optional>
#include <string>

namespace divuvovize {

// The named multi-array of a model's output. A missing or non-array feature is a model that
// does not fit the engine: throws MLModelError (featureType) naming the feature.
platform::MLMultiArray requiredOutputArray(const platform::MLFeatureProvider &provider,
                                           const std::string &name);
// The same, absent when the provider has no such array.
std::optional<platform::MLMultiArray>
optionalOutputArray(const platform::MLFeatureProvider &provider, const std::string &name);
// The array's elements as float16 in row-major order, converting float32 and float64 elements.
platform::MLShapedArray<platform::Float16> float16ShapedArray(const platform::MLMultiArray &array);

} // namespace divuvovize
