// The float16 weight kernels on every path this CPU offers and the portable one, and the linear
// operation over float16 matrices stacked from separate blocks.

#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/kernels/HalfKernels.hpp"
#include "platform/ml/runner/ops/Linear.hpp"

#include "tests/platform/ml/runner/ForcedInstructionSet.hpp"
#include "tests/platform/ml/runner/RandomValues.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace platform::runner;

class HalfKernelPaths : public ForcedInstructionSet {};

TEST_P(HalfKernelPaths, MatrixVectorProductMatchesAFloat64ProductOnOddSizes) {
  EXPECT_EQ(instructionSet(), GetParam());
  std::mt19937 generator(5);
  for (std::size_t rows : {1u, 7u, 513u}) {
    for (std::size_t cols : {1u, 15u, 63u, 64u, 1025u}) {
      // Rows back to back (read as one stream), and a row stride one longer than the row, which
      // starts every other row at an odd element.
      for (std::size_t lda : {cols, cols + 1}) {
        SCOPED_TRACE(std::to_string(rows) + " x " + std::to_string(cols) + ", stride " +
                     std::to_string(lda));
        const auto a = randomHalves(rows * lda, generator);
        const auto x = randomFloats(cols, generator);
        std::vector<float> y(rows + 1, 12345.0f);
        halfDotRows(a.data(), rows, cols, lda, x.data(), y.data());
        for (std::size_t r = 0; r < rows; ++r) {
          double exact = 0;
          double magnitude = 0;
          for (std::size_t c = 0; c < cols; ++c) {
            const double term = static_cast<double>(halfToFloat(a[r * lda + c])) * x[c];
            exact += term;
            magnitude += std::abs(term);
          }
          ASSERT_NEAR(y[r], exact, 1e-6 * magnitude + 1e-12) << "row " << r;
        }
        EXPECT_EQ(y[rows], 12345.0f); // nothing written past the last row
      }
    }
  }
}

// The product with the transposed matrix: strided rows are taken four at a time, so row counts
// leave every remainder, and column counts every vector tail.
TEST_P(HalfKernelPaths, TransposedProductMatchesAFloat64ProductOnOddSizes) {
  std::mt19937 generator(6);
  for (std::size_t rows : {1u, 6u, 7u, 513u}) {
    for (std::size_t cols : {1u, 15u, 63u, 64u, 1025u}) {
      for (std::size_t lda : {cols, cols + 1}) {
        SCOPED_TRACE(std::to_string(rows) + " x " + std::to_string(cols) + ", stride " +
                     std::to_string(lda));
        const auto a = randomHalves(rows * lda, generator);
        const auto x = randomFloats(rows, generator);
        std::vector<float> y(cols + 1, 12345.0f);
        halfDotColumns(a.data(), rows, cols, lda, x.data(), y.data());
        for (std::size_t c = 0; c < cols; ++c) {
          double exact = 0;
          double magnitude = 0;
          for (std::size_t r = 0; r < rows; ++r) {
            const double term = static_cast<double>(halfToFloat(a[r * lda + c])) * x[r];
            exact += term;
            magnitude += std::abs(term);
          }
          ASSERT_NEAR(y[c], exact, 1e-6 * magnitude + 1e-12) << "column " << c;
        }
        EXPECT_EQ(y[cols], 12345.0f); // nothing written past the last column
      }
    }
  }
}

// Narrowing rounds as the scalar conversion does: every float16 value, the midpoints between
// neighbours (ties to even) and values just either side of them, subnormals, overflow and the
// specials, at offsets that leave every vector tail.
TEST_P(HalfKernelPaths, NarrowingMatchesTheScalarRoundingForEveryHalfAndMidpoint) {
  std::vector<float> values;
  for (std::uint32_t bits = 0; bits < 0x7c00; ++bits) {
    const float value = halfToFloat(static_cast<std::uint16_t>(bits));
    const float next = halfToFloat(static_cast<std::uint16_t>(bits + 1));
    const float midpoint = value + (next - value) / 2;
    for (float v :
         {value, midpoint, std::nextafter(midpoint, 0.0f), std::nextafter(midpoint, INFINITY)}) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  for (float v : {65504.0f, 65519.0f, 65520.0f, 1e6f, INFINITY, -INFINITY, 1e-10f, -1e-30f}) {
    values.push_back(v);
  }
  for (std::size_t offset : {0u, 1u, 7u}) {
    const std::size_t count = values.size() - offset;
    std::vector<std::uint16_t> narrowed(count + 1, 0xabcd);
    narrowToHalf(values.data() + offset, narrowed.data(), count);
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_EQ(narrowed[i], floatToHalf(values[offset + i])) << "value " << values[offset + i];
    }
    EXPECT_EQ(narrowed[count], 0xabcd);
  }
  const float nan = std::nanf("");
  std::uint16_t bits = 0;
  narrowToHalf(&nan, &bits, 1);
  EXPECT_TRUE(std::isnan(halfToFloat(bits)));
}

TEST_P(HalfKernelPaths, WideningAndAddingAreExactForEveryValueAndOffset) {
  std::vector<std::uint16_t> all(65536);
  for (std::uint32_t bits = 0; bits < 65536; ++bits) {
    all[bits] = static_cast<std::uint16_t>(bits);
  }
  for (std::size_t offset : {0u, 1u, 7u}) {
    const std::size_t count = all.size() - offset - 3; // an odd tail as well as an odd start
    std::vector<float> widened(count + 1, -7.0f);
    widenHalf(all.data() + offset, widened.data(), count);
    std::vector<float> sums(count, 0.5f);
    addHalf(sums.data(), all.data() + offset, count);
    for (std::size_t i = 0; i < count; ++i) {
      const float expected = halfToFloat(all[offset + i]);
      if (std::isnan(expected)) {
        // The conversion instructions quiet a signalling NaN; it stays a NaN.
        ASSERT_TRUE(std::isnan(widened[i]) && std::isnan(sums[i])) << "bits " << all[offset + i];
        continue;
      }
      ASSERT_EQ(std::bit_cast<std::uint32_t>(widened[i]), std::bit_cast<std::uint32_t>(expected))
          << "bits " << all[offset + i];
      ASSERT_EQ(sums[i], 0.5f + expected) << "bits " << all[offset + i];
    }
    EXPECT_EQ(widened[count], -7.0f);
  }
}

// Three separately stored [5 x 9] blocks stacked as one [15 x 9] matrix: the one-row product
// reads them in place, the several-row product widens them into the scratch first.
TEST_P(HalfKernelPaths, LinearOverStackedFloat16BlocksMatchesFloat64) {
  constexpr std::size_t kBlockRows = 5, kCols = 9, kRows = 3 * kBlockRows;
  std::mt19937 generator(7);
  std::vector<std::vector<std::uint16_t>> blocks;
  MatrixView weight{nullptr, kRows, kCols};
  weight.halfBlocks = 3;
  for (std::size_t b = 0; b < 3; ++b) {
    blocks.push_back(randomHalves(kBlockRows * kCols, generator));
    weight.half[b] = blocks.back().data();
  }
  const auto bias = randomFloats(kRows, generator);
  for (std::size_t inputRows : {1u, 4u}) {
    SCOPED_TRACE(std::to_string(inputRows) + " input rows");
    const auto x = randomFloats(inputRows * kCols, generator);
    std::vector<float> out(inputRows * kRows);
    std::vector<float> scratch(weight.widenedSize(), 0.0f);
    linear(x.data(), inputRows, weight, bias.data(), out.data(), 0, 0, scratch.data());
    for (std::size_t i = 0; i < inputRows; ++i) {
      for (std::size_t r = 0; r < kRows; ++r) {
        double exact = bias[r];
        const std::uint16_t *row = blocks[r / kBlockRows].data() + (r % kBlockRows) * kCols;
        for (std::size_t c = 0; c < kCols; ++c) {
          exact += static_cast<double>(halfToFloat(row[c])) * x[i * kCols + c];
        }
        ASSERT_NEAR(out[i * kRows + r], exact, 1e-5) << "row " << i << ", output " << r;
      }
    }
  }
  std::vector<float> row(kCols);
  readMatrixRow(weight, 7, row.data()); // the second block's third row
  for (std::size_t c = 0; c < kCols; ++c) {
    EXPECT_EQ(row[c], halfToFloat(blocks[1][2 * kCols + c]));
  }
}

MQ_INSTANTIATE_FOR_EVERY_INSTRUCTION_SET(HalfKernelPaths);

} // namespace
