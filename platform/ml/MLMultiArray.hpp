#pragma once

#include "platform/ml/Float16.hpp"
#include "platform/ml/PixelBuffer.hpp"

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace platform {

enum class MLMultiArrayDataType { float16, float32, float64, int32, int8 };

// Bytes of one element.
std::size_t elementSize(MLMultiArrayDataType dataType);
// "float16", "float32", "float64", "int32" or "int8".
const char *description(MLMultiArrayDataType dataType);

// The data type whose elements are T; absent for any other T.
template <class T> constexpr std::optional<MLMultiArrayDataType> dataTypeOf() {
  if constexpr (std::is_same_v<T, Float16>) {
    return MLMultiArrayDataType::float16;
  } else if constexpr (std::is_same_v<T, float>) {
    return MLMultiArrayDataType::float32;
  } else if constexpr (std::is_same_v<T, double>) {
    return MLMultiArrayDataType::float64;
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    return MLMultiArrayDataType::int32;
  } else if constexpr (std::is_same_v<T, std::int8_t>) {
    return MLMultiArrayDataType::int8;
  } else {
    return std::nullopt;
  }
}

// Creating a half-precision array failed because its pixel buffer could not be made (an empty
// shape or a zero dimension).
class MLMultiArrayCreationError : public std::runtime_error {
public:
  enum class Code { pixelBufferFailed };

  explicit MLMultiArrayCreationError(Code code = Code::pixelBufferFailed)
      : std::runtime_error("Failed to create IOSurface-backed pixel buffer for MLMultiArray"),
        code_(code) {}

  Code code() const { return code_; }
  friend bool operator==(const MLMultiArrayCreationError &a, const MLMultiArrayCreationError &b) {
    return a.code_ == b.code_;
  }

private:
  Code code_;
};

// A multi-dimensional array of numbers with a shape, per-dimension strides (in elements) and
// one data type. The array is a handle: copies share the same storage, as several models and
// caches hand one array around; deepCopy() makes an independent one. Constness of the handle
// does not protect the shared elements. Not synchronised: callers serialise access to one
// storage.
class MLMultiArray {
public:
  using Shape = std::vector<int>;

  // An empty array: no dimensions, no elements, no storage.
  MLMultiArray() = default;

  // A zero-filled array with row-major strides. Throws MLModelError for an empty shape or a
  // negative dimension.
  MLMultiArray(Shape shape, MLMultiArrayDataType dataType);

  // A zero-filled array with the given strides (in elements, one per dimension, none
  // negative); the storage covers the furthest element. Throws MLModelError when the strides
  // do not match the shape.
  MLMultiArray(Shape shape, MLMultiArrayDataType dataType, Shape strides);

  // A float16 array over the pixel buffer's memory (shared, not copied): the last dimension
  // runs along a row, the other dimensions over the rows. Throws MLModelError when the shape
  // does not fit the buffer.
  MLMultiArray(const PixelBuffer &pixelBuffer, Shape shape);

  // An array of `shape` and `dataType` with every element set to `initialValue` when the
  // value's type matches the data type exactly (Float16 or float for float16, float for
  // float32, double for float64, std::int32_t for int32, std::int8_t for int8); any other
  // value type leaves the array zero-filled, with no conversion between numeric types (so a
  // literal 1 for a float32 array fills nothing). float16 arrays are backed by a pixel buffer
  // of width the last dimension and height the product of the others; when it cannot be
  // made, throws MLMultiArrayCreationError. Other types throw as the plain constructor does.
  template <class T>
  requires(!std::same_as<std::remove_cvref_t<T>, Shape>)
      MLMultiArray(Shape shape, MLMultiArrayDataType dataType, const T &initialValue);

  // An int32 array of shape [1, ..., 1, n] (`dims` dimensions) holding `values` in order.
  // Throws std::invalid_argument when dims < 1.
  static MLMultiArray from(const std::vector<int> &values, int dims = 1);

  // Both are shared by every copy of the handle, so copying an array allocates nothing.
  const Shape &shape() const;
  const Shape &strides() const;
  MLMultiArrayDataType dataType() const { return dataType_; }
  // Number of elements: the product of the shape (0 for the empty array).
  int count() const { return count_; }
  // True when the strides are row-major with no gaps.
  bool isContiguous() const;

  // First element's address (nullptr for the empty array).
  void *dataPointer() const { return storage_.get(); }
  // The storage's owner, shared by every handle to it (null for the empty array): lets a cache
  // tie an entry to the storage's lifetime by holding it weakly.
  const std::shared_ptr<void> &storage() const { return storage_; }
  // The elements typed; throws std::invalid_argument when T does not match dataType().
  template <class T> T *data() const {
    if (dataTypeOf<T>() != dataType_) {
      throw std::invalid_argument(std::string("MLMultiArray: elements are ") +
                                  description(dataType_) + ", not the requested type");
    }
    return static_cast<T *>(dataPointer());
  }
  // A stamp of the elements, shared by every copy of the handle and never given twice in the
  // process (0 for the empty array): fresh at construction and after every write through
  // setValue, fill and fillLastDimension. Code that writes the elements through dataPointer()
  // or data<T>() calls markContentsChanged() when done, so what was computed from the elements
  // (the decoder's cross-attention memory) is recognised by the stamp without reading them
  // again. Arrays made separately over one pixel buffer have stamps of their own.
  std::uint64_t contentStamp() const;
  void markContentsChanged() const;
  // The pixel buffer a float16 array was made over, if any.
  const std::optional<PixelBuffer> &pixelBuffer() const { return pixelBuffer_; }

  // Element values converted to double, addressed by index vector or by row-major position
  // (0 ..< count()). Throw std::out_of_range outside the shape.
  double value(const Shape &index) const;
  double value(int position) const;
  void setValue(const Shape &index, double newValue) const;
  void setValue(int position, double newValue) const;

  // Sum of index[i] * strides[i] over the positions both have; the array's own strides when
  // none are given. Throws std::overflow_error when the sum leaves the int range.
  int linearOffset(const Shape &index, const std::optional<Shape> &strides = std::nullopt) const;

  // Writes `value` at every index vector. Every index is checked against the shape before
  // anything is written: a wrong rank or an index outside its dimension throws
  // std::out_of_range, a value type other than the data type's throws std::invalid_argument.
  template <class T> void fill(const std::vector<Shape> &indexes, T value) const;

  // Writes `value` at positions lower ..< upper of the last dimension of a float32 array of
  // shape [1, 1, n]. Another shape or type throws std::invalid_argument; a range outside
  // 0 ... n (or lower > upper) throws std::out_of_range. Nothing is written on error.
  void fillLastDimension(int lower, int upper, float value) const;

  // An independent contiguous copy with the same shape and data type.
  MLMultiArray deepCopy() const;

private:
  void checkIndex(const Shape &index, const char *operation) const;
  void *elementAddress(int offset) const;

  // Fixed at construction but for the stamp; null for the empty array.
  struct Layout {
    Layout(Shape shape, Shape strides);
    Shape shape;
    Shape strides;
    mutable std::atomic<std::uint64_t> stamp;
  };
  std::shared_ptr<const Layout> layout_;
  MLMultiArrayDataType dataType_ = MLMultiArrayDataType::float32;
  int count_ = 0;
  std::shared_ptr<void> storage_;
  std::optional<PixelBuffer> pixelBuffer_;
};

// Builds a float16 array backed by a pixel buffer (see the initial-value constructor).
MLMultiArray makePixelBufferBackedFloat16(const MLMultiArray::Shape &shape);

template <class T>
requires(!std::same_as<std::remove_cvref_t<T>, MLMultiArray::Shape>)
    MLMultiArray::MLMultiArray(Shape shape, MLMultiArrayDataType dataType, const T &initialValue) {
  using V = std::remove_cvref_t<T>;
  if (dataType == MLMultiArrayDataType::float16) {
    *this = makePixelBufferBackedFloat16(shape);
    if constexpr (std::is_same_v<V, float> || std::is_same_v<V, Float16>) {
      const auto half = static_cast<Float16>(initialValue);
      auto *elements = static_cast<Float16 *>(dataPointer());
      for (int i = 0; i < count_; ++i) {
        elements[i] = half;
      }
    }
    return;
  }
  *this = MLMultiArray(std::move(shape), dataType);
  if constexpr (dataTypeOf<V>().has_value()) {
    if (dataTypeOf<V>() == dataType) {
      auto *elements = static_cast<V *>(dataPointer());
      for (int i = 0; i < count_; ++i) {
        elements[i] = initialValue;
      }
    }
  }
}

template <class T> void MLMultiArray::fill(const std::vector<Shape> &indexes, T value) const {
  T *elements = data<T>();
  for (const auto &index : indexes) {
    checkIndex(index, "fill");
  }
  for (const auto &index : indexes) {
    elements[linearOffset(index)] = value;
  }
  markContentsChanged();
}

} // namespace platform
