#include "DivuvovIze/Decoding/Decoder/TextDecoding.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/Float16.hpp"
#include "platform/ml/VectorKernels.hpp"

namespace divuvovize {

using platform::MLMultiArray;
using platform::MLMultiArrayDataType;

TextDecoding::~TextDecoding() = default;

std::shared_ptr<DecodingInputsType>
TextDecoding::prepareDecoderInputs(const std::vector<int> &prompt) {
  const auto embedDim = kvCacheEmbedDim();
  if (!embedDim) {
    throw WhisperError::prepareDecoderInputsFailed("Unable to determine kvCacheEmbedDim");
  }
  const auto sequenceLength = kvCacheMaxSequenceLength();
  if (!sequenceLength) {
    throw WhisperError::prepareDecoderInputsFailed("Unable to determine kvCacheMaxSequenceLength");
  }
  const auto encoderOutputDim = windowSize();
  if (!encoderOutputDim) {
    throw WhisperError::prepareDecoderInputsFailed("Unable to determine encoderOutputDim");
  }
  const int e = *embedDim;
  const int s = *sequenceLength;
  const int w = *encoderOutputDim;
  MLMultiArray kvCacheUpdateMask({1, s}, MLMultiArrayDataType::int32);
  kvCacheUpdateMask.data<std::int32_t>()[0] = 1;
  MLMultiArray decoderKeyPaddingMask({1, s}, MLMultiArrayDataType::float16, -10000.0f);
  decoderKeyPaddingMask.data<platform::Float16>()[0] = 0;
  return std::make_shared<DecodingInputs>(
      prompt, makeMLMultiArray({1}, MLMultiArrayDataType::int32),
      makeMLMultiArray({1}, MLMultiArrayDataType::int32),
      makeMLMultiArray({1, e, 1, s}, MLMultiArrayDataType::float16),
      makeMLMultiArray({1, e, 1, s}, MLMultiArrayDataType::float16),
      makeMLMultiArray({s, w}, MLMultiArrayDataType::float16), std::move(kvCacheUpdateMask),
      std::move(decoderKeyPaddingMask));
}

namespace {

// Copies n positions of every channel from a [1, E, 1, n] slice into a [1, E, 1, S] cache, one
// element at a time as its type, as every decoded token does for each of its cache slices.
template <class Element>
void copyCacheElements(Element *target, const Element *source, int channels, int positions,
                       const MLMultiArray::Shape &sliceStrides,
                       const MLMultiArray::Shape &cacheStrides, int index) {
  for (std::ptrdiff_t j = 0; j < channels; ++j) {
    const Element *from = source + j * sliceStrides[1];
    Element *to =
        target + j * cacheStrides[1] + static_cast<std::ptrdiff_t>(index) * cacheStrides[3];
    for (std::ptrdiff_t k = 0; k < positions; ++k) {
      to[k * cacheStrides[3]] = from[k * sliceStrides[3]];
    }
  }
}

void copyCacheSlice(const MLMultiArray &cache, const MLMultiArray &slice,
                    const MLMultiArray::Shape &sliceStrides, int index) {
  void *target = cache.dataPointer();
  const void *source = slice.dataPointer();
  if (target == nullptr || source == nullptr) {
    return;
  }
  const int channels = std::min(cache.shape()[1], slice.shape()[1]);
  const int positions = slice.shape()[3];
  const auto &cacheStrides = cache.strides();
  switch (platform::elementSize(cache.dataType())) {
  case 1:
    copyCacheElements(static_cast<std::uint8_t *>(target),
                      static_cast<const std::uint8_t *>(source), channels, positions, sliceStrides,
                      cacheStrides, index);
    break;
  case 2:
    copyCacheElements(static_cast<std::uint16_t *>(target),
                      static_cast<const std::uint16_t *>(source), channels, positions, sliceStrides,
                      cacheStrides, index);
    break;
  case 4:
    copyCacheElements(static_cast<std::uint32_t *>(target),
                      static_cast<const std::uint32_t *>(source), channels, positions, sliceStrides,
                      cacheStrides, index);
    break;
  default:
    copyCacheElements(static_cast<std::uint64_t *>(target),
                      static_cast<const std::uint64_t *>(source), channels, positions, sliceStrides,
                      cacheStrides, index);
    break;
  }
}

bool fitsCache(const MLMultiArray &cache, const MLMultiArray &slice, int index) {
  return cache.shape().size() == 4 && slice.shape().size() == 4 &&
         cache.dataType() == slice.dataType() && index >= 0 &&
         index + slice.shape()[3] <= cache.shape()[3];
}

float elementAsFloat(const MLMultiArray &array, int offset) {
  switch (array.dataType()) {
  case MLMultiArrayDataType::float16:
    return static_cast<float>(array.data<platform::Float16>()[offset]);
  case MLMultiArrayDataType::float32:
    return array.data<float>()[offset];
  default:
    return static_cast<float>(array.value(offset));
  }
}

} // namespace

void TextDecoding::updateKVCache(const MLMultiArray &keyTensor, const MLMultiArray &keySlice,
                                 const MLMultiArray &valueTensor, const MLMultiArray &valueSlice,
                                 int insertAtIndex) {
  // The value slice is read with the key slice's strides: the model writes both alike.
  if (!fitsCache(keyTensor, keySlice, insertAtIndex) ||
      !fitsCache(valueTensor, valueSlice, insertAtIndex) ||
      valueSlice.shape() != keySlice.shape()) {
    return;
  }
  copyCacheSlice(keyTensor, keySlice, keySlice.strides(), insertAtIndex);
  copyCacheSlice(valueTensor, valueSlice, keySlice.strides(), insertAtIndex);
}

void TextDecoding::updateAlignmentWeights(const MLMultiArray &alignmentTensor,
                                          const MLMultiArray &alignmentSlice, int insertAtIndex) {
  if (alignmentTensor.shape().size() != 2 || alignmentSlice.shape().size() != 2 ||
      insertAtIndex < 0 || insertAtIndex + 1 >= alignmentTensor.shape()[0] ||
      alignmentTensor.dataType() != MLMultiArrayDataType::float16) {
    return;
  }
  const int columns = std::min(alignmentTensor.shape()[1], alignmentSlice.shape()[1]);
  const auto &strides = alignmentTensor.strides();
  const auto &sliceStrides = alignmentSlice.strides();
  auto *target = alignmentTensor.data<platform::Float16>() + (insertAtIndex + 1) * strides[0];
  if (alignmentSlice.dataType() == MLMultiArrayDataType::float16) {
    const auto *source = alignmentSlice.data<platform::Float16>();
    for (int i = 0; i < columns; ++i) {
      target[i * strides[1]] = source[i * sliceStrides[1]];
    }
  } else if (alignmentSlice.dataType() == MLMultiArrayDataType::float32 && strides[1] == 1 &&
             sliceStrides[1] == 1) {
    // A whole row each token: narrowed on the vector units, not one software conversion each.
    platform::runner::narrowToHalf(alignmentSlice.data<float>(),
                                   reinterpret_cast<std::uint16_t *>(target),
                                   static_cast<std::size_t>(columns));
  } else {
    for (int i = 0; i < columns; ++i) {
      target[i * strides[1]] =
          static_cast<platform::Float16>(elementAsFloat(alignmentSlice, i * sliceStrides[1]));
    }
  }
}

MLMultiArray makeMLMultiArray(const MLMultiArray::Shape &shape, MLMultiArrayDataType dataType) {
  if (dataType == MLMultiArrayDataType::float16) {
    return MLMultiArray(shape, dataType, platform::Float16(0));
  }
  return MLMultiArray(shape, dataType);
}

void debugDecoderInputs(DecodingInputs &inputs, int tokenIndex) {
  if (!modelslog::debugEnabled()) {
    return;
  }
  const auto at = [](const MLMultiArray &array, long offset) -> float {
    if (offset < 0 || offset >= array.count()) {
      return 0;
    }
    return elementAsFloat(array, static_cast<int>(offset));
  };
  modelslog::debug("--------------- DECODER INPUTS DEBUG ---------------");
  char line[160];
  std::snprintf(line, sizeof line, "Cache Length: %2.0f Input Token: %4.0f",
                static_cast<double>(at(inputs.cacheLength(), 0)),
                static_cast<double>(at(inputs.inputIds(), 0)));
  modelslog::debug(std::string(line));
  modelslog::debug("Key Cache | Val Cache | Align Cache | Update Mask | Decoder Mask | Position");
  const int end = std::min(std::max(tokenIndex, 0) + 4, 224);
  for (int p = 0; p < end; ++p) {
    std::snprintf(line, sizeof line, "%9.6f | %9.6f | %9.6f | %11.0f | %12.0f | %d",
                  static_cast<double>(at(inputs.keyCache(), p)),
                  static_cast<double>(at(inputs.valueCache(), p)),
                  static_cast<double>(at(inputs.alignmentWeights(), static_cast<long>(p) * 1500)),
                  static_cast<double>(at(inputs.kvCacheUpdateMask(), p)),
                  static_cast<double>(at(inputs.decoderKeyPaddingMask(), p)), p);
    modelslog::debug(std::string(line));
  }
}

} // namespace divuvovize
