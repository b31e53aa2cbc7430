#include "platform/ml/runner/kernels/HalfKernels.hpp"

#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/kernels/HalfKernelsSimd.hpp"
#include "platform/ml/runner/kernels/InstructionSet.hpp"

#include <algorithm>

namespace platform::runner {
namespace {

// The portable bodies widen through the 64 Ki-entry table; four lanes keep the sums independent
// so the compiler can interleave them.
void halfDotRowsPortable(const std::uint16_t *a, std::size_t rows, std::size_t cols,
                         std::size_t lda, const float *x, float *y) {
  const float *table = halfToFloatTable();
  for (std::size_t r = 0; r < rows; ++r) {
    const std::uint16_t *row = a + r * lda;
    float lanes[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    std::size_t c = 0;
    for (; c + 4 <= cols; c += 4) {
      for (std::size_t j = 0; j < 4; ++j) {
        lanes[j] += table[row[c + j]] * x[c + j];
      }
    }
    float sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    for (; c < cols; ++c) {
      sum += table[row[c]] * x[c];
    }
    y[r] = sum;
  }
}

void widenHalfPortable(const std::uint16_t *source, float *destination, std::size_t count) {
  halfToFloat(source, destination, count);
}

void addHalfPortable(float *y, const std::uint16_t *x, std::size_t count) {
  const float *table = halfToFloatTable();
  for (std::size_t i = 0; i < count; ++i) {
    y[i] += table[x[i]];
  }
}

// Four rows per pass: y is loaded and stored once for four rows' products.
void halfDotColumnsPortable(const std::uint16_t *a, std::size_t rows, std::size_t cols,
                            std::size_t lda, const float *x, float *y) {
  const float *table = halfToFloatTable();
  std::fill(y, y + cols, 0.0f);
  std::size_t r = 0;
  for (; r + 4 <= rows; r += 4) {
    const std::uint16_t *a0 = a + r * lda;
    const std::uint16_t *a1 = a0 + lda;
    const std::uint16_t *a2 = a1 + lda;
    const std::uint16_t *a3 = a2 + lda;
    const float x0 = x[r], x1 = x[r + 1], x2 = x[r + 2], x3 = x[r + 3];
    for (std::size_t c = 0; c < cols; ++c) {
      y[c] += (x0 * table[a0[c]] + x1 * table[a1[c]]) + (x2 * table[a2[c]] + x3 * table[a3[c]]);
    }
  }
  for (; r < rows; ++r) {
    const std::uint16_t *row = a + r * lda;
    for (std::size_t c = 0; c < cols; ++c) {
      y[c] += x[r] * table[row[c]];
    }
  }
}

void narrowToHalfPortable(const float *source, std::uint16_t *destination, std::size_t count) {
  floatToHalf(source, destination, count);
}

#define MQ_HALF_BUILDS(name) MQ_KERNEL_BUILDS(name##Portable, simd::name##Avx2, simd::name##Avx512)

} // namespace

void halfDotRows(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                 const float *x, float *y) {
  MQ_HALF_BUILDS(halfDotRows).chosen()(a, rows, cols, lda, x, y);
}

void widenHalf(const std::uint16_t *source, float *destination, std::size_t count) {
  MQ_HALF_BUILDS(widenHalf).chosen()(source, destination, count);
}

void addHalf(float *y, const std::uint16_t *x, std::size_t count) {
  MQ_HALF_BUILDS(addHalf).chosen()(y, x, count);
}

void halfDotColumns(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                    const float *x, float *y) {
  MQ_HALF_BUILDS(halfDotColumns).chosen()(a, rows, cols, lda, x, y);
}

void narrowToHalf(const float *source, std::uint16_t *destination, std::size_t count) {
  MQ_HALF_BUILDS(narrowToHalf).chosen()(source, destination, count);
}

} // namespace platform::runner
