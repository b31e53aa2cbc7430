#include "platform/ml/runner/ops/Linear.hpp"

#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/Gemm.hpp"
#include "platform/ml/runner/kernels/HalfKernels.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

#include <algorithm>
#include <stdexcept>

namespace platform::runner {
namespace {

// The matrix-vector product over float16 blocks: one parallel loop over all rows, each chunk cut
// at block edges. The bias and the activation run on each chunk's rows as soon as they are done,
// while they are still in that core's cache, rather than as passes of their own after the loop.
void halfMatVec(const MatrixView &weight, const float *x, float *y, const float *bias, bool gelu) {
  // Four chunks a thread or more: each thread's own chunks follow each other, so it still streams
  // one run of the matrix, and threads that finish early take the late ones' last chunks (threads
  // finish their shares at different times: memory serves the cores unevenly). The loop ends when
  // its last chunk does, so a large matrix (the logits over the vocabulary) is cut into chunks of
  // at most about 256 KiB, up to kMaxChunksPerThread a thread: with four, the others idled on the
  // last 1.6 MB chunk for 14% of that loop (measured on eight threads: a step 1.5% faster). At
  // least about 16 KiB of weights per chunk, so small matrices do not spread thin.
  constexpr std::size_t kLongChunkBytes = 256 * 1024;
  const std::size_t threads = parallelThreadCount();
  const std::size_t bytes = weight.rows * weight.cols * sizeof(std::uint16_t);
  const std::size_t chunksPerThread =
      std::clamp<std::size_t>(bytes / (threads * kLongChunkBytes), 4, kMaxChunksPerThread);
  const std::size_t grain =
      std::max(weight.rows / (threads * chunksPerThread),
               std::max<std::size_t>(1, 8192 / std::max<std::size_t>(1, weight.cols)));
  parallelFor(
      0, weight.rows, grain,
      [&](std::size_t begin, std::size_t end) {
        linearRows(x, weight, bias, begin, end, y);
        if (gelu) {
          geluInPlace(y + begin, end - begin);
        }
      },
      chunksPerThread);
}

const std::uint16_t *halfRow(const MatrixView &weight, std::size_t row) {
  const std::size_t blockRows = weight.rows / weight.halfBlocks;
  const std::size_t block = row / blockRows;
  return weight.half[block] + (row - block * blockRows) * weight.cols;
}

// The caller's scratch is sized for float16 weights only (widenedSize() is 0 otherwise).
float *productScratch(const MatrixView &weight, float *weightScratch) {
  return weight.isHalf() ? weightScratch : nullptr;
}

} // namespace

void linearRows(const float *x, const MatrixView &weight, const float *bias, std::size_t begin,
                std::size_t end, float *out) {
  if (weight.isHalf()) {
    // A run of rows never crosses a block edge: blocks need not follow each other in memory.
    const std::size_t blockRows = weight.rows / weight.halfBlocks;
    for (std::size_t row = begin; row < end;) {
      const std::size_t stop = std::min(end, (row / blockRows + 1) * blockRows);
      halfDotRows(halfRow(weight, row), stop - row, weight.cols, weight.cols, x, out + row);
      row = stop;
    }
  } else {
    for (std::size_t row = begin; row < end; ++row) {
      out[row] = dot(weight.data + row * weight.cols, x, weight.cols);
    }
  }
  if (bias != nullptr) {
    addInPlace(out + begin, bias + begin, end - begin);
  }
}

void linear(const float *x, std::size_t rows, MatrixView weight, const float *bias, float *out,
            std::size_t xStride, std::size_t outStride, float *weightScratch) {
  if (xStride == 0) {
    xStride = weight.cols;
  }
  if (outStride == 0) {
    outStride = weight.rows;
  }
  if (rows == 1 && weight.isHalf()) {
    halfMatVec(weight, x, out, bias, false);
    return;
  }
  if (rows == 1) {
    gemvRows(weight.data, weight.rows, weight.cols, weight.cols, x, out);
  } else {
    gemmProduct(rows, weight.rows, weight.cols, 1.0f, x, xStride, productOperand(weight), 0.0f, out,
                outStride, bias, productScratch(weight, weightScratch));
    return;
  }
  if (bias != nullptr) {
    addBiasRows(out, rows, weight.rows, bias, outStride);
  }
}

void linearGelu(const float *x, std::size_t rows, MatrixView weight, const float *bias, float *out,
                float *weightScratch) {
  if (rows > 1) {
    gemmProduct(rows, weight.rows, weight.cols, 1.0f, x, weight.cols, productOperand(weight), 0.0f,
                out, weight.rows, bias, productScratch(weight, weightScratch),
                GemmActivation::gelu);
    return;
  }
  if (weight.isHalf()) {
    halfMatVec(weight, x, out, bias, true);
    return;
  }
  linear(x, rows, weight, bias, out, 0, 0, weightScratch);
  geluInPlace(out, rows * weight.rows);
}

GemmB productOperand(const MatrixView &weight) {
  GemmB b;
  b.ld = weight.cols;
  if (weight.isHalf()) {
    b.half = weight.half;
    b.halfBlockRows = weight.rows / weight.halfBlocks;
  } else {
    b.data = weight.data;
    b.transposed = true;
  }
  return b;
}

const float *widenedMatrix(const MatrixView &weight, float *scratch) {
  if (!weight.isHalf()) {
    return weight.data;
  }
  if (scratch == nullptr) {
    throw std::logic_error("a float16 weight product needs a widening scratch");
  }
  widenHalfB(productOperand(weight), weight.cols, weight.rows, scratch);
  return scratch;
}

void readMatrixRow(const MatrixView &weight, std::size_t row, float *out) {
  if (weight.isHalf()) {
    widenHalf(halfRow(weight, row), out, weight.cols);
  } else {
    std::copy(weight.data + row * weight.cols, weight.data + (row + 1) * weight.cols, out);
  }
}

void addMatrix(float *y, const MatrixView &weight) {
  if (!weight.isHalf()) {
    addInPlace(y, weight.data, weight.rows * weight.cols);
    return;
  }
  const std::size_t blockElements = weight.rows / weight.halfBlocks * weight.cols;
  for (std::size_t b = 0; b < weight.halfBlocks; ++b) {
    addHalf(y + b * blockElements, weight.half[b], blockElements);
  }
}

void addBiasRows(float *out, std::size_t rows, std::size_t cols, const float *bias,
                 std::size_t stride) {
  if (stride == 0) {
    stride = cols;
  }
  parallelFor(0, rows, 64, [&](std::size_t begin, std::size_t end) {
    for (std::size_t r = begin; r < end; ++r) {
      addInPlace(out + r * stride, bias, cols);
    }
  });
}

} // namespace platform::runner
