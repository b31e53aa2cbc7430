#pragma once

#include "platform/ml/MLFeatureProvider.hpp"
#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/runner/formats/ModelConfig.hpp"

#include <cstdint>
#include <string>

namespace platform::runner {

// Moving feature arrays in and out of the networks' plain buffers. Inputs are accepted in any
// float type for float features (converted), in the listed type otherwise, with any strides;
// the shape must be exactly the listed one. Failures throw MLModelError (featureType) naming the
// model and the feature.

// The input array of `feature`, checked. Providers that store their values hand it over without
// a copy (nothing allocated); others' arrays are copied into `copy`, which the result then refers
// to.
const MLMultiArray &inputArray(const std::string &model, const MLFeatureProvider &input,
                               const FeatureSpec &feature, MLMultiArray &copy);

// Checks that `array` fits `feature`: exactly its shape; for a float feature any float type, for
// another feature its own type. `role` names the array in the message ("input feature",
// "output backing").
void checkFeatureArray(const std::string &model, const char *role, const MLMultiArray &array,
                       const FeatureSpec &feature);

// Elements of a float16/float32/float64 array as float32, row-major, into `destination`
// (count() floats).
void copyToFloats(const MLMultiArray &array, float *destination);
// Elements of a float array as float16 bits (converting float32/float64).
void copyToHalfBits(const MLMultiArray &array, std::uint16_t *destination);
// Elements of an int32 array.
void copyToInt32(const MLMultiArray &array, std::int32_t *destination);

// The elements of a contiguous float32 array, or null when a copy is needed.
const float *directFloats(const MLMultiArray &array);
// The raw float16 bits of a contiguous float16 array, or null when a copy is needed.
const std::uint16_t *directHalfBits(const MLMultiArray &array);
// The elements of a contiguous int32 array, or null when a copy is needed.
const std::int32_t *directInt32(const MLMultiArray &array);

// A new contiguous array of `feature` filled from `count` floats (narrowed to float16 when the
// feature says so).
MLMultiArray outputArray(const FeatureSpec &feature, const float *values);
// Writes count() row-major floats into a float16/float32/float64 array, following its strides.
// Values computed in the array's own storage stay as they are. Allocates nothing.
void copyFromFloats(const float *values, const MLMultiArray &destination);

} // namespace platform::runner
