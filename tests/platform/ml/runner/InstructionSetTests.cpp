// The kernels' one instruction-set choice, and the vector kernels' promise that every instruction
// set gives the baseline build's bits, so a transcript does not depend on the CPU.

#include "platform/ml/VectorKernels.hpp"
#include "platform/ml/runner/kernels/Gemm.hpp"
#include "platform/ml/runner/kernels/InstructionSet.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"
#include "platform/ml/runner/kernels/VectorOpsSimd.hpp"

#include "tests/platform/ml/runner/ForcedInstructionSet.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using namespace platform::runner;

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(InstructionSet, TheBestIsChosenAndAMissingOneIsRefused) {
  resetInstructionSet();
  const InstructionSet best = instructionSet();
  EXPECT_TRUE(instructionSetAvailable(best));
  EXPECT_TRUE(instructionSetAvailable(InstructionSet::baseline));
  for (auto set : {InstructionSet::avx512, InstructionSet::avx2}) {
    if (instructionSetAvailable(set)) {
      EXPECT_NE(best, InstructionSet::baseline) << "a wider build is available";
    } else {
      EXPECT_THROW(forceInstructionSet(set), std::invalid_argument);
      EXPECT_EQ(instructionSet(), best);
    }
  }
  if (instructionSetAvailable(InstructionSet::avx512)) {
    EXPECT_EQ(best, InstructionSet::avx512);
  }
  // The matrix product follows the same choice.
  EXPECT_EQ(gemmPath(), best == InstructionSet::avx512 ? GemmPath::avx512 : GemmPath::blas);
}

std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }

// Lengths around every vector width and block, and `large` of about the vocabulary's.
std::vector<std::size_t> lengths(std::size_t large) {
  std::vector<std::size_t> result;
  for (std::size_t count = 0; count < 100; ++count) {
    result.push_back(count);
  }
  for (std::size_t count = 51765; result.size() < 100 + large; --count) {
    result.push_back(count);
  }
  return result;
}

class VectorBuilds : public ForcedInstructionSet {};

TEST_P(VectorBuilds, ReductionsGiveTheBaselinesBits) {
  std::mt19937 generator(9);
  std::normal_distribution<float> spread(0.0f, 6.0f);
  for (const std::size_t count : lengths(200)) {
    std::vector<float> values(count);
    for (float &value : values) {
      const unsigned pick = generator() % 50;
      value = pick == 0 ? -kInf : (pick == 1 ? kNaN : spread(generator));
    }
    const float maximum = simd::maxValueBaseline(values.data(), count);
    ASSERT_EQ(bitsOf(maxValue(values.data(), count)), bitsOf(maximum)) << count;
    ASSERT_EQ(maxEntry(values.data(), count).index,
              simd::maxEntryBaseline(values.data(), count).index)
        << count;
    for (const float scale : {1.0f, 1.0f / 0.7f, -2.0f}) {
      const float shift = std::isinf(maximum) ? 0.0f : maximum * scale;
      ASSERT_EQ(bitsOf(sumExp(values.data(), count, scale, shift)),
                bitsOf(simd::sumExpBaseline(values.data(), count, scale, shift)))
          << count << " x " << scale;
    }
  }
}

TEST_P(VectorBuilds, ActivationLoopsGiveTheBaselinesBits) {
  std::mt19937 generator(21);
  std::normal_distribution<float> spread(0.0f, 4.0f);
  auto expectSame = [](const std::vector<float> &built, const std::vector<float> &baseline,
                       const char *what) {
    for (std::size_t i = 0; i < built.size(); ++i) {
      ASSERT_EQ(bitsOf(built[i]), bitsOf(baseline[i]))
          << what << " at " << i << " of " << built.size();
    }
  };
  for (const std::size_t count : lengths(20)) {
    std::vector<float> values(count), gamma(count), beta(count);
    for (std::size_t i = 0; i < count; ++i) {
      values[i] = spread(generator);
      gamma[i] = spread(generator);
      beta[i] = spread(generator);
    }
    auto built = values, baseline = values;
    ASSERT_EQ(bitsOf(expShiftedInPlace(built.data(), count)),
              bitsOf(simd::expShiftedInPlaceBaseline(baseline.data(), count)));
    expectSame(built, baseline, "exp shifted");
    built = baseline = values;
    softmaxInPlace(built.data(), count);
    simd::softmaxInPlaceBaseline(baseline.data(), count);
    expectSame(built, baseline, "softmax");
    built = baseline = values;
    geluInPlace(built.data(), count);
    simd::geluInPlaceBaseline(baseline.data(), count);
    expectSame(built, baseline, "GELU");
    std::vector<float> normed(count), normedBaseline(count);
    layerNorm(values.data(), gamma.data(), beta.data(), 1e-5f, normed.data(), count);
    simd::layerNormBaseline(values.data(), gamma.data(), beta.data(), 1e-5f, normedBaseline.data(),
                            count);
    expectSame(normed, normedBaseline, "layer norm");
  }
}

MQ_INSTANTIATE_FOR_EVERY_INSTRUCTION_SET(VectorBuilds);

} // namespace
