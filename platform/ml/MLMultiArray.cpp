#include "platform/ml/MLMultiArray.hpp"

#include "platform/ml/MLModelError.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>

namespace platform {

namespace {

std::string shapeText(const MLMultiArray::Shape &shape) {
  std::ostringstream out;
  out << '[';
  for (std::size_t i = 0; i < shape.size(); ++i) {
    out << (i ? ", " : "") << shape[i];
  }
  out << ']';
  return out.str();
}

std::uint64_t freshStamp() {
  static std::atomic<std::uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::shared_ptr<void> allocateZeroed(std::size_t bytes) {
  const std::size_t rounded = (std::max<std::size_t>(bytes, 1) + 63) / 64 * 64;
  void *memory = std::aligned_alloc(64, rounded);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  std::memset(memory, 0, rounded);
  return std::shared_ptr<void>(memory, std::free);
}

// Element count of a shape; throws for an empty shape, a negative dimension or overflow.
int checkedCount(const MLMultiArray::Shape &shape) {
  if (shape.empty()) {
    throw MLModelError(MLModelError::Code::generic, "MLMultiArray: the shape has no dimensions");
  }
  std::int64_t count = 1;
  for (int dimension : shape) {
    if (dimension < 0) {
      throw MLModelError(MLModelError::Code::generic,
                         "MLMultiArray: shape " + shapeText(shape) + " has a negative dimension");
    }
    count *= dimension;
    if (count > std::numeric_limits<int>::max()) {
      throw MLModelError(MLModelError::Code::generic,
                         "MLMultiArray: shape " + shapeText(shape) + " has too many elements");
    }
  }
  return static_cast<int>(count);
}

// Throws when a stride does not fit an int, which a shape with a zero dimension beside huge
// ones can reach although it holds no element.
MLMultiArray::Shape rowMajorStrides(const MLMultiArray::Shape &shape) {
  MLMultiArray::Shape strides(shape.size(), 1);
  for (std::size_t i = shape.size(); i-- > 1;) {
    const std::int64_t stride =
        static_cast<std::int64_t>(strides[i]) * std::max<std::int64_t>(shape[i], 1);
    if (stride > std::numeric_limits<int>::max()) {
      throw MLModelError(MLModelError::Code::generic,
                         "MLMultiArray: shape " + shapeText(shape) + " spans too many elements");
    }
    strides[i - 1] = static_cast<int>(stride);
  }
  return strides;
}

} // namespace

std::size_t elementSize(MLMultiArrayDataType dataType) {
  switch (dataType) {
  case MLMultiArrayDataType::float16:
    return 2;
  case MLMultiArrayDataType::float32:
  case MLMultiArrayDataType::int32:
    return 4;
  case MLMultiArrayDataType::float64:
    return 8;
  case MLMultiArrayDataType::int8:
    return 1;
  }
  return 4;
}

const char *description(MLMultiArrayDataType dataType) {
  switch (dataType) {
  case MLMultiArrayDataType::float16:
    return "float16";
  case MLMultiArrayDataType::float32:
    return "float32";
  case MLMultiArrayDataType::float64:
    return "float64";
  case MLMultiArrayDataType::int32:
    return "int32";
  case MLMultiArrayDataType::int8:
    return "int8";
  }
  return "unknown";
}

MLMultiArray::Layout::Layout(Shape shape, Shape strides)
    : shape(std::move(shape)), strides(std::move(strides)), stamp(freshStamp()) {}

MLMultiArray::MLMultiArray(Shape shape, MLMultiArrayDataType dataType)
    : MLMultiArray(shape, dataType, rowMajorStrides(shape)) {}

std::uint64_t MLMultiArray::contentStamp() const {
  return layout_ ? layout_->stamp.load(std::memory_order_relaxed) : 0;
}

void MLMultiArray::markContentsChanged() const {
  if (layout_) {
    layout_->stamp.store(freshStamp(), std::memory_order_relaxed);
  }
}

const MLMultiArray::Shape &MLMultiArray::shape() const {
  static const Shape none;
  return layout_ ? layout_->shape : none;
}

const MLMultiArray::Shape &MLMultiArray::strides() const {
  static const Shape none;
  return layout_ ? layout_->strides : none;
}

MLMultiArray::MLMultiArray(Shape shape, MLMultiArrayDataType dataType, Shape strides)
    : dataType_(dataType) {
  count_ = checkedCount(shape);
  if (strides.size() != shape.size()) {
    throw MLModelError(MLModelError::Code::generic, "MLMultiArray: strides " + shapeText(strides) +
                                                        " do not match shape " + shapeText(shape));
  }
  std::int64_t furthest = 0;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (strides[i] < 0) {
      throw MLModelError(MLModelError::Code::generic,
                         "MLMultiArray: strides " + shapeText(strides) + " have a negative entry");
    }
    if (shape[i] > 0) {
      furthest += static_cast<std::int64_t>(shape[i] - 1) * strides[i];
    }
  }
  if (furthest >= std::numeric_limits<int>::max()) {
    throw MLModelError(MLModelError::Code::generic,
                       "MLMultiArray: strides " + shapeText(strides) + " span too many elements");
  }
  const std::size_t elements = count_ == 0 ? 0 : static_cast<std::size_t>(furthest) + 1;
  storage_ = allocateZeroed(elements * elementSize(dataType_));
  layout_ = std::make_shared<const Layout>(std::move(shape), std::move(strides));
}

MLMultiArray::MLMultiArray(const PixelBuffer &pixelBuffer, Shape shape)
    : dataType_(MLMultiArrayDataType::float16) {
  count_ = checkedCount(shape);
  if (static_cast<std::int64_t>(pixelBuffer.width()) * pixelBuffer.height() != count_ ||
      shape.back() != pixelBuffer.width()) {
    throw MLModelError(
        MLModelError::Code::generic,
        "MLMultiArray: shape " + shapeText(shape) + " does not fit a pixel buffer of " +
            std::to_string(pixelBuffer.width()) + " x " + std::to_string(pixelBuffer.height()));
  }
  Shape strides = rowMajorStrides(shape);
  layout_ = std::make_shared<const Layout>(std::move(shape), std::move(strides));
  storage_ = pixelBuffer.storage();
  pixelBuffer_ = pixelBuffer;
}

MLMultiArray makePixelBufferBackedFloat16(const MLMultiArray::Shape &shape) {
  if (shape.empty()) {
    throw MLMultiArrayCreationError();
  }
  std::int64_t height = 1;
  for (std::size_t i = 0; i + 1 < shape.size(); ++i) {
    height *= shape[i];
    if (height <= 0 || height > std::numeric_limits<int>::max()) {
      throw MLMultiArrayCreationError();
    }
  }
  // More elements than an array can index: refused before any memory is taken for it.
  if (height * std::max(shape.back(), 0) > std::numeric_limits<int>::max()) {
    throw MLMultiArrayCreationError();
  }
  auto buffer = PixelBuffer::createOneComponent16Half(shape.back(), static_cast<int>(height));
  if (!buffer) {
    throw MLMultiArrayCreationError();
  }
  return MLMultiArray(*buffer, shape);
}

MLMultiArray MLMultiArray::from(const std::vector<int> &values, int dims) {
  if (dims < 1) {
    throw std::invalid_argument("MLMultiArray.from: dims must be at least 1, got " +
                                std::to_string(dims));
  }
  Shape shape(static_cast<std::size_t>(dims), 1);
  shape.back() = static_cast<int>(values.size());
  MLMultiArray array(shape, MLMultiArrayDataType::int32);
  auto *elements = array.data<std::int32_t>();
  for (std::size_t i = 0; i < values.size(); ++i) {
    elements[i] = values[i];
  }
  return array;
}

bool MLMultiArray::isContiguous() const {
  // Compared in place (no strides vector built): predictions check their arrays on every call.
  std::int64_t expected = 1;
  for (std::size_t i = shape().size(); i-- > 0;) {
    if (strides()[i] != expected) {
      return false;
    }
    expected *= std::max(shape()[i], 1);
  }
  return true;
}

void MLMultiArray::checkIndex(const Shape &index, const char *operation) const {
  bool inside = index.size() == shape().size();
  for (std::size_t i = 0; inside && i < index.size(); ++i) {
    inside = index[i] >= 0 && index[i] < shape()[i];
  }
  if (!inside) {
    throw std::out_of_range(std::string("MLMultiArray.") + operation + ": index " +
                            shapeText(index) + " is outside shape " + shapeText(shape()));
  }
}

int MLMultiArray::linearOffset(const Shape &index, const std::optional<Shape> &strides) const {
  const Shape &steps = strides ? *strides : this->strides();
  const std::size_t n = std::min(index.size(), steps.size());
  std::int64_t offset = 0;
  for (std::size_t i = 0; i < n; ++i) {
    offset += static_cast<std::int64_t>(index[i]) * steps[i];
    if (offset > std::numeric_limits<int>::max() || offset < std::numeric_limits<int>::min()) {
      throw std::overflow_error("MLMultiArray.linearOffset: offset of index " + shapeText(index) +
                                " overflows");
    }
  }
  return static_cast<int>(offset);
}

void *MLMultiArray::elementAddress(int offset) const {
  return static_cast<std::byte *>(storage_.get()) +
         static_cast<std::size_t>(offset) * elementSize(dataType_);
}

double MLMultiArray::value(const Shape &index) const {
  checkIndex(index, "value");
  const void *address = elementAddress(linearOffset(index));
  switch (dataType_) {
  case MLMultiArrayDataType::float16:
    return static_cast<double>(*static_cast<const Float16 *>(address));
  case MLMultiArrayDataType::float32:
    return *static_cast<const float *>(address);
  case MLMultiArrayDataType::float64:
    return *static_cast<const double *>(address);
  case MLMultiArrayDataType::int32:
    return *static_cast<const std::int32_t *>(address);
  case MLMultiArrayDataType::int8:
    return *static_cast<const std::int8_t *>(address);
  }
  return 0;
}

namespace {

MLMultiArray::Shape indexOfPosition(const MLMultiArray::Shape &shape, int position, int count) {
  if (position < 0 || position >= count) {
    throw std::out_of_range("MLMultiArray: position " + std::to_string(position) +
                            " is outside 0 ..< " + std::to_string(count));
  }
  MLMultiArray::Shape index(shape.size(), 0);
  for (std::size_t i = shape.size(); i-- > 0;) {
    index[i] = position % shape[i];
    position /= shape[i];
  }
  return index;
}

} // namespace

double MLMultiArray::value(int position) const {
  return value(indexOfPosition(shape(), position, count_));
}

void MLMultiArray::setValue(const Shape &index, double newValue) const {
  checkIndex(index, "setValue");
  void *address = elementAddress(linearOffset(index));
  switch (dataType_) {
  case MLMultiArrayDataType::float16:
    *static_cast<Float16 *>(address) = static_cast<Float16>(newValue);
    break;
  case MLMultiArrayDataType::float32:
    *static_cast<float *>(address) = static_cast<float>(newValue);
    break;
  case MLMultiArrayDataType::float64:
    *static_cast<double *>(address) = newValue;
    break;
  case MLMultiArrayDataType::int32:
    *static_cast<std::int32_t *>(address) = static_cast<std::int32_t>(newValue);
    break;
  case MLMultiArrayDataType::int8:
    *static_cast<std::int8_t *>(address) = static_cast<std::int8_t>(newValue);
    break;
  }
  markContentsChanged();
}

void MLMultiArray::setValue(int position, double newValue) const {
  setValue(indexOfPosition(shape(), position, count_), newValue);
}

void MLMultiArray::fillLastDimension(int lower, int upper, float value) const {
  if (dataType_ != MLMultiArrayDataType::float32 || shape().size() != 3 || shape()[0] != 1 ||
      shape()[1] != 1) {
    throw std::invalid_argument("MLMultiArray.fillLastDimension: needs a float32 array of shape "
                                "[1, 1, n], got " +
                                std::string(description(dataType_)) + " " + shapeText(shape()));
  }
  if (lower < 0 || lower > upper || upper > shape()[2]) {
    throw std::out_of_range("MLMultiArray.fillLastDimension: range " + std::to_string(lower) +
                            " ..< " + std::to_string(upper) + " is outside 0 ..< " +
                            std::to_string(shape()[2]));
  }
  auto *elements = static_cast<float *>(dataPointer());
  const int step = strides()[2];
  for (int i = lower; i < upper; ++i) {
    elements[static_cast<std::size_t>(i) * step] = value;
  }
  markContentsChanged();
}

MLMultiArray MLMultiArray::deepCopy() const {
  if (shape().empty()) {
    return {};
  }
  MLMultiArray copy(shape(), dataType_);
  if (isContiguous()) {
    std::memcpy(copy.dataPointer(), dataPointer(),
                static_cast<std::size_t>(count_) * elementSize(dataType_));
    return copy;
  }
  const std::size_t size = elementSize(dataType_);
  for (int position = 0; position < count_; ++position) {
    const auto index = indexOfPosition(shape(), position, count_);
    std::memcpy(copy.elementAddress(position), elementAddress(linearOffset(index)), size);
  }
  return copy;
}

} // namespace platform
