#pragma once

#include "platform/ml/runner/kernels/HalfKernels.hpp"

#include <gtest/gtest.h>

namespace platform::runner {

// Runs each test on the float16 kernel path it is given, skipped where the CPU lacks it, and
// returns to the best path afterwards.
class ForcedHalfKernelPath : public ::testing::TestWithParam<HalfKernelPath> {
protected:
  void SetUp() override {
    if (!halfKernelPathAvailable(GetParam())) {
      GTEST_SKIP() << "this CPU has no " << halfKernelPathName(GetParam()) << " path";
    }
    forceHalfKernelPath(GetParam());
  }
  void TearDown() override { resetHalfKernelPath(); }
};

} // namespace platform::runner
