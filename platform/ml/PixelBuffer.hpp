#pragma once

#include <cstddef>
#include <memory>
#include <optional>

namespace platform {

// A two-dimensional image buffer of one 16-bit half-float component per pixel: the memory that
// half-precision multi-arrays live in, so that an accelerator could share it. Rows are packed
// (bytesPerRow is width * 2). Copies share the memory.
class PixelBuffer {
public:
  // A zero-filled buffer; absent when width or height is not positive or the size overflows.
  static std::optional<PixelBuffer> createOneComponent16Half(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  std::size_t bytesPerRow() const { return static_cast<std::size_t>(width_) * 2; }
  void *baseAddress() const { return storage_.get(); }
  const std::shared_ptr<void> &storage() const { return storage_; }

private:
  PixelBuffer(int width, int height, std::shared_ptr<void> storage)
      : width_(width), height_(height), storage_(std::move(storage)) {}

  int width_ = 0;
  int height_ = 0;
  std::shared_ptr<void> storage_;
};

} // namespace platform
