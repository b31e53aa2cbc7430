#include "platform/system/MemoryMapping.hpp"

#include <utility>

#include <sys/mman.h>

namespace platform {

MemoryMapping::MemoryMapping(MemoryMapping &&other) noexcept
    : address_(std::exchange(other.address_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MemoryMapping &MemoryMapping::operator=(MemoryMapping &&other) noexcept {
  if (this != &other) {
    reset();
    address_ = std::exchange(other.address_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void MemoryMapping::reset() {
  if (address_ != nullptr) {
    ::munmap(address_, size_);
  }
  address_ = nullptr;
  size_ = 0;
}

} // namespace platform
