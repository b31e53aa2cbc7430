#pragma once

#include <cstddef>

namespace mqbench {

// The library `mq_allocation_counter` replaces the global operator new and delete, in every
// form (plain and array, sized, nothrow, aligned), with malloc-backed ones that benchmarks and
// tests can watch through the two types below. Link it into benchmark and test programs only.
// Both set process-wide switches: they see allocations made on every thread.

// The process-wide count of allocations, taken while counting is on (off at start).
class AllocationCounter {
public:
  // Turns counting on or off (the count is kept); returns whether it was on, so a caller can
  // pause counting around work of its own and restore it.
  static bool setCounting(bool on);
  // Allocations counted since the last reset (every form counts once per call).
  static long count();
  static void resetCount();
};

// While alive, any single allocation larger than `bytes` is refused instead of being made, and
// counted: std::bad_alloc from the throwing forms, a null pointer from the nothrow ones. A parser
// that sizes a buffer from a hostile header (billions of frames, a rate of 1 Hz) is caught
// before it touches the memory. Not nested: one limit at a time.
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

} // namespace mqbench
