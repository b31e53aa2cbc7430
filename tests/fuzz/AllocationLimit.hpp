#pragma once

#include <cstddef>

namespace mqtest::fuzz {

// While alive, any single allocation through the global operator new larger than `bytes` is
// refused with std::bad_alloc instead of being made, and counted: a parser that sizes a buffer
// from a hostile header (billions of frames, a rate of 1 Hz) is caught before it touches the
// memory. This test program replaces the global operator new to do so. Not nested; one scope
// at a time.
class AllocationLimit {
public:
  explicit AllocationLimit(std::size_t bytes);
  ~AllocationLimit();
  AllocationLimit(const AllocationLimit &) = delete;
  AllocationLimit &operator=(const AllocationLimit &) = delete;

  // Allocations refused so far in this scope, and the largest one asked for.
  std::size_t refused() const;
  std::size_t largestRefused() const;
};

} // namespace mqtest::fuzz
