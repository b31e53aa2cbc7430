#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Owns one memory mapping (from mmap) and unmaps it when destroyed or reset. Move-only. A
// default-constructed owner holds none.
class MemoryMapping {
public:
  MemoryMapping() = default;
  // Takes ownership of the `size` bytes mapped at `address` (null: none).
  MemoryMapping(void *address, std::size_t size) : address_(address), size_(size) {}
  ~MemoryMapping() { reset(); }
  MemoryMapping(MemoryMapping &&other) noexcept;
  MemoryMapping &operator=(MemoryMapping &&other) noexcept;
  MemoryMapping(const MemoryMapping &) = delete;
  MemoryMapping &operator=(const MemoryMapping &) = delete;

  const std::uint8_t *data() const { return static_cast<const std::uint8_t *>(address_); }
  std::size_t size() const { return size_; }
  bool isMapped() const { return address_ != nullptr; }
  // Unmaps what is held.
  void reset();

private:
  void *address_ = nullptr;
  std::size_t size_ = 0;
};

} // namespace platform
