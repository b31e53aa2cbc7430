#include "tests/fuzz/AllocationLimit.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> limit{0}; // 0: no limit
std::atomic<std::size_t> refusedCount{0};
std::atomic<std::size_t> largest{0};

void *allocate(std::size_t size) {
  const std::size_t cap = limit.load(std::memory_order_relaxed);
  if (cap != 0 && size > cap) {
    refusedCount.fetch_add(1, std::memory_order_relaxed);
    std::size_t seen = largest.load(std::memory_order_relaxed);
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
    throw std::bad_alloc();
  }
  if (void *p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}

} // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(std::size_t size) { return allocate(size); }
void *operator new[](std::size_t size) { return allocate(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace mqtest::fuzz {

AllocationLimit::AllocationLimit(std::size_t bytes) {
  refusedCount = 0;
  largest = 0;
  limit = bytes;
}

AllocationLimit::~AllocationLimit() { limit = 0; }

std::size_t AllocationLimit::refused() const { return refusedCount.load(); }
std::size_t AllocationLimit::largestRefused() const { return largest.load(); }

} // namespace mqtest::fuzz
