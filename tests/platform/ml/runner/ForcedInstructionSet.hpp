#pragma once

#include "platform/ml/runner/kernels/InstructionSet.hpp"

#include <gtest/gtest.h>

#include <string>

namespace platform::runner {

// Runs each test with the kernels' instruction set it is given, skipped where the CPU lacks it,
// and returns to the best one afterwards.
class ForcedInstructionSet : public ::testing::TestWithParam<InstructionSet> {
protected:
  void SetUp() override {
    if (!instructionSetAvailable(GetParam())) {
      GTEST_SKIP() << "this CPU has no " << instructionSetName(GetParam()) << " build";
    }
    forceInstructionSet(GetParam());
  }
  void TearDown() override { resetInstructionSet(); }
};

// Every instruction set, each test named after it.
#define MQ_INSTANTIATE_FOR_EVERY_INSTRUCTION_SET(Suite)                                            \
  INSTANTIATE_TEST_SUITE_P(                                                                        \
      Runner, Suite,                                                                               \
      ::testing::Values(InstructionSet::baseline, InstructionSet::avx2, InstructionSet::avx512),   \
      [](const ::testing::TestParamInfo<InstructionSet> &info) {                                   \
        return std::string(instructionSetName(info.param));                                        \
      })

} // namespace platform::runner
