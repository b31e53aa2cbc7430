#pragma once

#include "platform/ml/MLMultiArray.hpp"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A typed, owned, row-major array of scalars with a shape: a plain value, unlike MLMultiArray.
// Scalar is one of Float16, float, double, std::int32_t, std::int8_t.
template <class Scalar> struct MLShapedArray {
  MLMultiArray::Shape shape;
  std::vector<Scalar> scalars; // row-major, product(shape) entries

  MLShapedArray() = default;
  // Throws std::invalid_argument when the scalar count does not match the shape.
  MLShapedArray(MLMultiArray::Shape shape, std::vector<Scalar> scalars)
      : shape(std::move(shape)), scalars(std::move(scalars)) {
    std::size_t count = 1;
    for (int dimension : this->shape) {
      count *= static_cast<std::size_t>(dimension < 0 ? 0 : dimension);
    }
    if (count != this->scalars.size()) {
      throw std::invalid_argument("MLShapedArray: " + std::to_string(this->scalars.size()) +
                                  " scalars do not fill the shape");
    }
  }
  // The elements of `array`, which must hold Scalar elements (else std::invalid_argument),
  // in row-major order whatever the array's strides.
  explicit MLShapedArray(const MLMultiArray &array) : shape(array.shape()) {
    const MLMultiArray copy = array.isContiguous() ? array : array.deepCopy();
    const Scalar *elements = copy.data<Scalar>();
    scalars.assign(elements, elements + copy.count());
  }

  // A new contiguous multi-array holding a copy of the scalars.
  MLMultiArray toMLMultiArray() const {
    MLMultiArray array(shape, *dataTypeOf<Scalar>());
    Scalar *elements = array.data<Scalar>();
    for (std::size_t i = 0; i < scalars.size(); ++i) {
      elements[i] = scalars[i];
    }
    return array;
  }
};

} // namespace platform
