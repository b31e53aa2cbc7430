#include "platform/ml/runner/FeatureArrays.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/models/SafeTensorsFile.hpp"

#include <cstring>
#include <vector>

namespace platform::runner {
namespace {

std::string shapeText(const MLMultiArray::Shape &shape) {
  std::string text = "[";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(shape[i]);
  }
  return text + "]";
}

// Calls visit(rowMajorIndex, elementOffset) for every element, following the strides.
template <class Visit> void forEachElement(const MLMultiArray &array, Visit &&visit) {
  const auto &shape = array.shape();
  const auto &strides = array.strides();
  const std::size_t rank = shape.size();
  const auto count = static_cast<std::size_t>(array.count());
  if (count == 0) {
    return;
  }
  std::vector<int> index(rank, 0);
  std::ptrdiff_t offset = 0;
  for (std::size_t i = 0; i < count; ++i) {
    visit(i, offset);
    for (std::size_t d = rank; d-- > 0;) {
      if (++index[d] < shape[d]) {
        offset += strides[d];
        break;
      }
      offset -= static_cast<std::ptrdiff_t>(strides[d]) * (shape[d] - 1);
      index[d] = 0;
    }
  }
}

} // namespace

MLMultiArray inputArray(const std::string &model, const MLFeatureProvider &input,
                        const FeatureSpec &feature) {
  const auto value = input.featureValue(feature.name);
  if (!value) {
    throw MLModelError(MLModelError::Code::featureType,
                       model + ": missing input feature " + feature.name);
  }
  auto array = value->multiArrayValue();
  if (!array) {
    throw MLModelError(MLModelError::Code::featureType,
                       model + ": input feature " + feature.name + " is not a multi-array");
  }
  MLMultiArray::Shape expected(feature.shape.begin(), feature.shape.end());
  if (array->shape() != expected) {
    throw MLModelError(MLModelError::Code::featureType,
                       model + ": input feature " + feature.name + " has shape " +
                           shapeText(array->shape()) + ", expected " + shapeText(expected));
  }
  const auto type = array->dataType();
  const bool floatSpec = feature.dataType == MLMultiArrayDataType::float16 ||
                         feature.dataType == MLMultiArrayDataType::float32;
  const bool floatArray = type == MLMultiArrayDataType::float16 ||
                          type == MLMultiArrayDataType::float32 ||
                          type == MLMultiArrayDataType::float64;
  if (floatSpec ? !floatArray : type != feature.dataType) {
    throw MLModelError(MLModelError::Code::featureType,
                       model + ": input feature " + feature.name + " holds " + description(type) +
                           ", expected " + description(feature.dataType));
  }
  return *array;
}

void copyToFloats(const MLMultiArray &array, float *destination) {
  const auto type = array.dataType();
  if (type == MLMultiArrayDataType::float32 && array.isContiguous()) {
    std::memcpy(destination, array.dataPointer(),
                static_cast<std::size_t>(array.count()) * sizeof(float));
    return;
  }
  const float *table = halfToFloatTable();
  forEachElement(array, [&](std::size_t i, std::ptrdiff_t offset) {
    switch (type) {
    case MLMultiArrayDataType::float16:
      destination[i] = table[static_cast<const std::uint16_t *>(array.dataPointer())[offset]];
      break;
    case MLMultiArrayDataType::float32:
      destination[i] = static_cast<const float *>(array.dataPointer())[offset];
      break;
    case MLMultiArrayDataType::float64:
      destination[i] = static_cast<float>(static_cast<const double *>(array.dataPointer())[offset]);
      break;
    case MLMultiArrayDataType::int32:
      destination[i] =
          static_cast<float>(static_cast<const std::int32_t *>(array.dataPointer())[offset]);
      break;
    case MLMultiArrayDataType::int8:
      destination[i] =
          static_cast<float>(static_cast<const std::int8_t *>(array.dataPointer())[offset]);
      break;
    }
  });
}

void copyToHalfBits(const MLMultiArray &array, std::uint16_t *destination) {
  if (array.dataType() == MLMultiArrayDataType::float16) {
    const auto *bits = static_cast<const std::uint16_t *>(array.dataPointer());
    forEachElement(array,
                   [&](std::size_t i, std::ptrdiff_t offset) { destination[i] = bits[offset]; });
    return;
  }
  std::vector<float> widened(static_cast<std::size_t>(array.count()));
  copyToFloats(array, widened.data());
  floatToHalf(widened.data(), destination, widened.size());
}

void copyToInt32(const MLMultiArray &array, std::int32_t *destination) {
  const auto *values = static_cast<const std::int32_t *>(array.dataPointer());
  forEachElement(array,
                 [&](std::size_t i, std::ptrdiff_t offset) { destination[i] = values[offset]; });
}

const std::uint16_t *directHalfBits(const MLMultiArray &array) {
  if (array.dataType() == MLMultiArrayDataType::float16 && array.isContiguous()) {
    return static_cast<const std::uint16_t *>(array.dataPointer());
  }
  return nullptr;
}

const std::int32_t *directInt32(const MLMultiArray &array) {
  if (array.dataType() == MLMultiArrayDataType::int32 && array.isContiguous()) {
    return static_cast<const std::int32_t *>(array.dataPointer());
  }
  return nullptr;
}

MLMultiArray outputArray(const FeatureSpec &feature, const float *values) {
  MLMultiArray array(MLMultiArray::Shape(feature.shape.begin(), feature.shape.end()),
                     feature.dataType);
  const auto count = static_cast<std::size_t>(array.count());
  if (feature.dataType == MLMultiArrayDataType::float16) {
    floatToHalf(values, static_cast<std::uint16_t *>(array.dataPointer()), count);
  } else {
    std::memcpy(array.dataPointer(), values, count * sizeof(float));
  }
  return array;
}

} // namespace platform::runner
