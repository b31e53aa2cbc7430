#include "platform/ml/runner/ops/RowOps.hpp"

#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

#include <algorithm>

namespace platform::runner {

void layerNormRows(const float *x, std::size_t rows, std::size_t cols, const float *gamma,
                   const float *beta, float epsilon, float *out) {
  parallelFor(0, rows, 16, [&](std::size_t begin, std::size_t end) {
    for (std::size_t r = begin; r < end; ++r) {
      layerNorm(x + r * cols, gamma, beta, epsilon, out + r * cols, cols);
    }
  });
}

void addRowsWithBias(float *y, const float *x, const float *bias, std::size_t rows,
                     std::size_t cols) {
  parallelFor(0, rows, 16, [&](std::size_t begin, std::size_t end) {
    for (std::size_t r = begin; r < end; ++r) {
      float *target = y + r * cols;
      const float *source = x + r * cols;
      for (std::size_t c = 0; c < cols; ++c) {
        target[c] += source[c] + bias[c];
      }
    }
  });
}

void addAll(float *y, const float *x, std::size_t count) {
  parallelFor(0, count, 65536, [&](std::size_t begin, std::size_t end) {
    addInPlace(y + begin, x + begin, end - begin);
  });
}

void transpose(const float *src, std::size_t rows, std::size_t cols, std::size_t srcStride,
               float *dst, std::size_t dstStride) {
  constexpr std::size_t kBlock = 32;
  const std::size_t rowBlocks = (rows + kBlock - 1) / kBlock;
  parallelFor(0, rowBlocks, 4, [&](std::size_t begin, std::size_t end) {
    for (std::size_t rb = begin; rb < end; ++rb) {
      const std::size_t r0 = rb * kBlock;
      const std::size_t r1 = std::min(rows, r0 + kBlock);
      for (std::size_t c0 = 0; c0 < cols; c0 += kBlock) {
        const std::size_t c1 = std::min(cols, c0 + kBlock);
        for (std::size_t r = r0; r < r1; ++r) {
          for (std::size_t c = c0; c < c1; ++c) {
            dst[c * dstStride + r] = src[r * srcStride + c];
          }
        }
      }
    }
  });
}

} // namespace platform::runner
