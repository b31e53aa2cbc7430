#pragma once

#include "platform/ml/Float16.hpp"
#include "platform/ml/MLMultiArray.hpp"

#include <cstdint>
#include <vector>

namespace platform {

using MLTensorScalarType = MLMultiArrayDataType;

// An immutable n-dimensional array of one scalar type, the form model results are computed in.
// Holds its own contiguous copy of the scalars.
class MLTensor {
public:
  // Throw std::invalid_argument when the scalar count does not match the shape.
  MLTensor(MLMultiArray::Shape shape, const std::vector<float> &scalars);
  MLTensor(MLMultiArray::Shape shape, const std::vector<std::int32_t> &scalars);
  MLTensor(MLMultiArray::Shape shape, const std::vector<Float16> &scalars);
  MLTensor(MLMultiArray::Shape shape, const std::vector<double> &scalars);
  // A copy of the array's elements, of the array's type.
  explicit MLTensor(const MLMultiArray &array);

  const MLMultiArray::Shape &shape() const { return array_.shape(); }

  // The scalars, widened to int, in row-major order. Only int32 tensors; any other scalar type
  // throws std::invalid_argument "Unsupported scalar type: " + scalarTypeName().
  std::vector<int> toIntArray() const;
  // The scalars as floats: float32 tensors as they are, int32 tensors converted; any other
  // scalar type throws std::invalid_argument "Unsupported scalar type: " + scalarTypeName().
  std::vector<float> toFloatArray() const;
  // A new multi-array of the scalars: float32 tensors as float32, int32 tensors as int32; any
  // other scalar type throws as toFloatArray() does.
  MLMultiArray toMLMultiArray() const;

  // "Float16", "Float", "Double", "Int32" or "Int8".
  const char *scalarTypeName() const;

private:
  MLMultiArray array_; // contiguous, owned by this tensor alone
};

} // namespace platform
