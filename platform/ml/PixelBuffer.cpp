#include "platform/ml/PixelBuffer.hpp"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace platform {

std::optional<PixelBuffer> PixelBuffer::createOneComponent16Half(int width, int height) {
  if (width <= 0 || height <= 0) {
    return std::nullopt;
  }
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  if (w > std::numeric_limits<std::size_t>::max() / 2 / h) {
    return std::nullopt;
  }
  const std::size_t bytes = (w * h * 2 + 63) / 64 * 64;
  void *memory = std::aligned_alloc(64, bytes);
  if (memory == nullptr) {
    return std::nullopt;
  }
  std::memset(memory, 0, bytes);
  return PixelBuffer(width, height, std::shared_ptr<void>(memory, std::free));
}

} // namespace platform
