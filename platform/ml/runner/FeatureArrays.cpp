#include "platform/ml/runner/FeatureArrays.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/formats/SafeTensorsFile.hpp"
#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/kernels/HalfKernels.hpp"

#include <array>
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

std::string shapeText(const std::vector<std::size_t> &shape) {
  return shapeText(MLMultiArray::Shape(shape.begin(), shape.end()));
}

bool hasShape(const MLMultiArray &array, const std::vector<std::size_t> &shape) {
  const auto &actual = array.shape();
  if (actual.size() != shape.size()) {
    return false;
  }
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (actual[i] < 0 || static_cast<std::size_t>(actual[i]) != shape[i]) {
      return false;
    }
  }
  return true;
}

bool isFloat(MLMultiArrayDataType type) {
  return type == MLMultiArrayDataType::float16 || type == MLMultiArrayDataType::float32 ||
         type == MLMultiArrayDataType::float64;
}

// Calls visit(rowMajorIndex, elementOffset) for every element, following the strides. Allocates
// nothing for arrays of up to kInlineRank dimensions.
template <class Visit> void forEachElement(const MLMultiArray &array, Visit &&visit) {
  const auto count = static_cast<std::size_t>(array.count());
  if (count == 0) {
    return;
  }
  if (array.isContiguous()) {
    for (std::size_t i = 0; i < count; ++i) {
      visit(i, static_cast<std::ptrdiff_t>(i));
    }
    return;
  }
  const auto &shape = array.shape();
  const auto &strides = array.strides();
  const std::size_t rank = shape.size();
  constexpr std::size_t kInlineRank = 8;
  std::array<int, kInlineRank> inlineIndex{};
  std::vector<int> heapIndex;
  int *index = inlineIndex.data();
  if (rank > kInlineRank) {
    heapIndex.assign(rank, 0);
    index = heapIndex.data();
  }
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

const MLMultiArray &inputArray(const std::string &model, const MLFeatureProvider &input,
                               const FeatureSpec &feature, MLMultiArray &copy) {
  const MLMultiArray *array = nullptr;
  if (const MLFeatureValue *stored = input.storedFeatureValue(feature.name)) {
    array = stored->multiArrayPointer();
    if (array == nullptr) {
      throw MLModelError(MLModelError::Code::featureType,
                         model + ": input feature " + feature.name + " is not a multi-array");
    }
  } else {
    const auto value = input.featureValue(feature.name);
    if (!value) {
      throw MLModelError(MLModelError::Code::featureType,
                         model + ": missing input feature " + feature.name);
    }
    auto made = value->multiArrayValue();
    if (!made) {
      throw MLModelError(MLModelError::Code::featureType,
                         model + ": input feature " + feature.name + " is not a multi-array");
    }
    copy = std::move(*made);
    array = &copy;
  }
  checkFeatureArray(model, "input feature", *array, feature);
  return *array;
}

void checkFeatureArray(const std::string &model, const char *role, const MLMultiArray &array,
                       const FeatureSpec &feature) {
  if (!hasShape(array, feature.shape)) {
    throw MLModelError(MLModelError::Code::featureType,
                       model + ": " + role + " " + feature.name + " has shape " +
                           shapeText(array.shape()) + ", expected " + shapeText(feature.shape));
  }
  const auto type = array.dataType();
  const bool floatSpec = feature.dataType == MLMultiArrayDataType::float16 ||
                         feature.dataType == MLMultiArrayDataType::float32;
  if (floatSpec ? !isFloat(type) : type != feature.dataType) {
    throw MLModelError(MLModelError::Code::featureType,
                       model + ": " + role + " " + feature.name + " holds " + description(type) +
                           ", expected " + description(feature.dataType));
  }
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

const float *directFloats(const MLMultiArray &array) {
  if (array.dataType() == MLMultiArrayDataType::float32 && array.isContiguous()) {
    return static_cast<const float *>(array.dataPointer());
  }
  return nullptr;
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
    narrowToHalf(values, static_cast<std::uint16_t *>(array.dataPointer()), count);
  } else {
    std::memcpy(array.dataPointer(), values, count * sizeof(float));
  }
  return array;
}

void copyFromFloats(const float *values, const MLMultiArray &destination) {
  const auto type = destination.dataType();
  void *data = destination.dataPointer();
  if (destination.isContiguous()) {
    const auto count = static_cast<std::size_t>(destination.count());
    if (type == MLMultiArrayDataType::float32) {
      if (data != values) { // computed in place
        std::memcpy(data, values, count * sizeof(float));
      }
      return;
    }
    if (type == MLMultiArrayDataType::float16) {
      narrowToHalf(values, static_cast<std::uint16_t *>(data), count);
      return;
    }
  }
  forEachElement(destination, [&](std::size_t i, std::ptrdiff_t offset) {
    switch (type) {
    case MLMultiArrayDataType::float16:
      static_cast<std::uint16_t *>(data)[offset] = floatToHalf(values[i]);
      break;
    case MLMultiArrayDataType::float32:
      static_cast<float *>(data)[offset] = values[i];
      break;
    case MLMultiArrayDataType::float64:
      static_cast<double *>(data)[offset] = values[i];
      break;
    case MLMultiArrayDataType::int32:
    case MLMultiArrayDataType::int8:
      break; // outputs written from floats are float features
    }
  });
}

} // namespace platform::runner
