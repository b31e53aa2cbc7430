#include "platform/ml/runner/kernels/HugePageAllocator.hpp"

#include <new>
#include <sys/mman.h>

namespace platform::runner {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

bool isLarge(std::size_t bytes) { return bytes >= kHugePage; }

std::size_t wholeHugePages(std::size_t bytes) {
  return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

} // namespace

void *allocateHugePageBacked(std::size_t bytes) {
  if (!isLarge(bytes)) {
    return ::operator new(bytes);
  }
  const std::size_t rounded = wholeHugePages(bytes);
  void *block = ::operator new (rounded, std::align_val_t{kHugePage});
#ifdef MADV_HUGEPAGE
  // Advice only: where transparent huge pages are off, the block stays in 4 KiB pages.
  ::madvise(block, rounded, MADV_HUGEPAGE);
#endif
  return block;
}

void freeHugePageBacked(void *block, std::size_t bytes) noexcept {
  if (block == nullptr) {
    return;
  }
  if (!isLarge(bytes)) {
    ::operator delete(block);
    return;
  }
  ::operator delete (block, std::align_val_t{kHugePage});
}

} // namespace platform::runner
