#include "platform/ml/MLTensor.hpp"

#include <stdexcept>
#include <string>

namespace platform {

namespace {

template <class T> MLMultiArray arrayOf(MLMultiArray::Shape shape, const std::vector<T> &scalars) {
  std::size_t count = 1;
  for (int dimension : shape) {
    count *= static_cast<std::size_t>(dimension < 0 ? 0 : dimension);
  }
  if (count != scalars.size()) {
    throw std::invalid_argument("MLTensor: " + std::to_string(scalars.size()) +
                                " scalars do not fill a shape of " + std::to_string(count) +
                                " elements");
  }
  MLMultiArray array(std::move(shape), *dataTypeOf<T>());
  T *elements = array.data<T>();
  for (std::size_t i = 0; i < scalars.size(); ++i) {
    elements[i] = scalars[i];
  }
  return array;
}

} // namespace

MLTensor::MLTensor(MLMultiArray::Shape shape, const std::vector<float> &scalars)
    : array_(arrayOf(std::move(shape), scalars)) {}
MLTensor::MLTensor(MLMultiArray::Shape shape, const std::vector<std::int32_t> &scalars)
    : array_(arrayOf(std::move(shape), scalars)) {}
MLTensor::MLTensor(MLMultiArray::Shape shape, const std::vector<Float16> &scalars)
    : array_(arrayOf(std::move(shape), scalars)) {}
MLTensor::MLTensor(MLMultiArray::Shape shape, const std::vector<double> &scalars)
    : array_(arrayOf(std::move(shape), scalars)) {}
MLTensor::MLTensor(const MLMultiArray &array) : array_(array.deepCopy()) {}

const char *MLTensor::scalarTypeName() const {
  switch (array_.dataType()) {
  case MLMultiArrayDataType::float16:
    return "Float16";
  case MLMultiArrayDataType::float32:
    return "Float";
  case MLMultiArrayDataType::float64:
    return "Double";
  case MLMultiArrayDataType::int32:
    return "Int32";
  case MLMultiArrayDataType::int8:
    return "Int8";
  }
  return "Unknown";
}

std::vector<int> MLTensor::toIntArray() const {
  if (array_.dataType() != MLMultiArrayDataType::int32) {
    throw std::invalid_argument(std::string("Unsupported scalar type: ") + scalarTypeName());
  }
  const auto *elements = array_.data<std::int32_t>();
  return std::vector<int>(elements, elements + array_.count());
}

std::vector<float> MLTensor::toFloatArray() const {
  if (array_.dataType() == MLMultiArrayDataType::float32) {
    const auto *elements = array_.data<float>();
    return std::vector<float>(elements, elements + array_.count());
  }
  if (array_.dataType() == MLMultiArrayDataType::int32) {
    const auto *elements = array_.data<std::int32_t>();
    std::vector<float> values(static_cast<std::size_t>(array_.count()));
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i] = static_cast<float>(elements[i]);
    }
    return values;
  }
  throw std::invalid_argument(std::string("Unsupported scalar type: ") + scalarTypeName());
}

MLMultiArray MLTensor::toMLMultiArray() const {
  if (array_.dataType() != MLMultiArrayDataType::float32 &&
      array_.dataType() != MLMultiArrayDataType::int32) {
    throw std::invalid_argument(std::string("Unsupported scalar type: ") + scalarTypeName());
  }
  return array_.deepCopy();
}

} // namespace platform
