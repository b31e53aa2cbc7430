#include "bench/support/AllocationCounter.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> counted{0};
std::atomic<std::size_t> limit{0}; // 0: no limit
std::atomic<std::size_t> refusedCount{0};
std::atomic<std::size_t> largest{0};

// Counts the call and checks the limit; false when the allocation must be refused.
bool admit(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) {
    counted.fetch_add(1, std::memory_order_relaxed);
  }
  const std::size_t cap = limit.load(std::memory_order_relaxed);
  if (cap == 0 || size <= cap) {
    return true;
  }
  refusedCount.fetch_add(1, std::memory_order_relaxed);
  std::size_t seen = largest.load(std::memory_order_relaxed);
  while (size > seen && !largest.compare_exchange_weak(seen, size)) {
  }
  return false;
}

// Null when refused or out of memory.
void *tryAllocate(std::size_t size) noexcept {
  if (!admit(size)) {
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}

void *tryAllocate(std::size_t size, std::align_val_t alignment) noexcept {
  if (!admit(size)) {
    return nullptr;
  }
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size == 0 ? align : (size + align - 1) / align * align);
  return std::aligned_alloc(align, rounded);
}

void *allocate(std::size_t size) {
  if (void *p = tryAllocate(size)) {
    return p;
  }
  throw std::bad_alloc();
}

void *allocate(std::size_t size, std::align_val_t alignment) {
  if (void *p = tryAllocate(size, alignment)) {
    return p;
  }
  throw std::bad_alloc();
}

} // namespace

// Every block comes from malloc or aligned_alloc, so free() releases each form.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(std::size_t size) { return allocate(size); }
void *operator new[](std::size_t size) { return allocate(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return tryAllocate(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
  return tryAllocate(size);
}
void *operator new(std::size_t size, std::align_val_t alignment) {
  return allocate(size, alignment);
}
void *operator new[](std::size_t size, std::align_val_t alignment) {
  return allocate(size, alignment);
}
void *operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
  return tryAllocate(size, alignment);
}
void *operator new[](std::size_t size, std::align_val_t alignment,
                     const std::nothrow_t &) noexcept {
  return tryAllocate(size, alignment);
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete(void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void *p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void *p, std::align_val_t, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, std::align_val_t, const std::nothrow_t &) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace mqbench {

bool AllocationCounter::setCounting(bool on) { return counting.exchange(on); }

long AllocationCounter::count() { return counted.load(); }

void AllocationCounter::resetCount() { counted = 0; }

AllocationLimit::AllocationLimit(std::size_t bytes) {
  refusedCount = 0;
  largest = 0;
  limit = bytes;
}

AllocationLimit::~AllocationLimit() { limit = 0; }

std::size_t AllocationLimit::refused() const { return refusedCount.load(); }
std::size_t AllocationLimit::largestRefused() const { return largest.load(); }

} // namespace mqbench
