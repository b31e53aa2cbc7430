#include "bench/support/AllocationCounter.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>

namespace {

using mqbench::AllocationCounter;
using mqbench::AllocationLimit;

void *volatile sink = nullptr;

// Keeps an allocation observable, so the compiler cannot drop a new/delete pair.
void keep(void *p) { sink = p; }

struct alignas(64) Wide {
  float lanes[16];
};

TEST(AllocationCounter, CountsEveryFormOnlyWhileCounting) {
  AllocationCounter::resetCount();
  int *before = new int(0); // not counted
  keep(before);
  delete before;
  EXPECT_FALSE(AllocationCounter::setCounting(true));
  int *one = new int(1);
  int *many = new int[4];
  int *quiet = new (std::nothrow) int(2);
  int *quietMany = new (std::nothrow) int[4];
  Wide *wide = new Wide;
  Wide *wideMany = new Wide[2];
  EXPECT_TRUE(AllocationCounter::setCounting(false));
  for (void *p :
       {static_cast<void *>(one), static_cast<void *>(many), static_cast<void *>(quiet),
        static_cast<void *>(quietMany), static_cast<void *>(wide), static_cast<void *>(wideMany)}) {
    keep(p);
  }
  EXPECT_EQ(AllocationCounter::count(), 6);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wide) % alignof(Wide), 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wideMany) % alignof(Wide), 0u);
  delete one;
  delete[] many;
  delete quiet;
  delete[] quietMany;
  delete wide;
  delete[] wideMany;
  EXPECT_EQ(AllocationCounter::count(), 6);
}

TEST(AllocationLimit, RefusesLargerAllocationsInEveryForm) {
  AllocationLimit limit(1024);
  EXPECT_THROW(keep(new char[2048]), std::bad_alloc);
  EXPECT_EQ(new (std::nothrow) char[4096], nullptr);
  EXPECT_THROW(keep(new Wide[64]), std::bad_alloc);
  EXPECT_EQ(new (std::nothrow) Wide[64], nullptr);
  EXPECT_EQ(limit.refused(), 4u);
  EXPECT_EQ(limit.largestRefused(), 4096u);
  char *small = new char[512];
  keep(small);
  delete[] small;
  EXPECT_EQ(limit.refused(), 4u);
}

} // namespace
