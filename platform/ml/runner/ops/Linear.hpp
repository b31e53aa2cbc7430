#pragma once

#include "platform/ml/runner/kernels/Gemm.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform::runner {

// A read-only row-major weight matrix held by reference; the owner keeps the storage alive.
// Float32 weights are one block at `data`. Float16 weights stay as the weights file holds them:
// `halfBlocks` equal blocks of rows (rows / halfBlocks each) at `half[0..halfBlocks)`, so
// separately stored projections stack without a copy; `data` is null then.
struct MatrixView {
  const float *data = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::array<const std::uint16_t *, 3> half{};
  std::size_t halfBlocks = 0;

  bool isHalf() const { return halfBlocks != 0; }
  // Elements of the caller's scratch a product of several rows with this matrix takes (at least
  // rows * cols, so it also holds the matrix widened): 0 for float32 weights.
  std::size_t widenedSize() const { return isHalf() ? packedBSize(cols, rows) : 0; }
};

// out[rows x weight.rows] = x[rows x weight.cols] * weight^T + bias (bias may be null).
// `x` has `xStride` elements per row, `out` has `outStride` (0 means tightly packed).
// One row runs as a matrix-vector product, reading float16 weights as they are. Several rows run
// as one matrix product (gemmProduct) with `weightScratch` (weight.widenedSize() floats,
// caller-owned and reused; may be null for float32 weights) as its scratch for the weight: float16
// weights are widened there on the BLAS path and packed there on the runner's own.
// Not from inside parallelFor.
void linear(const float *x, std::size_t rows, MatrixView weight, const float *bias, float *out,
            std::size_t xStride = 0, std::size_t outStride = 0, float *weightScratch = nullptr);

// out[r] = row r of the weight . x + bias[r] (bias may be null), for rows r in [begin, end) only,
// on the calling thread: for a thread of a parallelFor that takes its own share of a product.
void linearRows(const float *x, const MatrixView &weight, const float *bias, std::size_t begin,
                std::size_t end, float *out);

// out = gelu(x * weight^T + bias), the exact GELU of linear's result (x and out tightly packed).
// With several rows, or one row of float16 weights, the activation runs inside the product rather
// than as a pass of its own. Not from inside parallelFor.
void linearGelu(const float *x, std::size_t rows, MatrixView weight, const float *bias, float *out,
                float *weightScratch = nullptr);

// The weight as the B operand of gemmProduct (weight^T, k = cols, n = rows).
GemmB productOperand(const MatrixView &weight);

// The matrix as float32: its own storage for float32 weights, else widened into `scratch`
// (widenedSize() floats) on the parallelFor threads. Not from inside parallelFor.
const float *widenedMatrix(const MatrixView &weight, float *scratch);

// Row `row` of the matrix into out[cols], widened if need be.
void readMatrixRow(const MatrixView &weight, std::size_t row, float *out);

// y[i] += the matrix's elements in row-major order, for i < rows * cols.
void addMatrix(float *y, const MatrixView &weight);

// Adds bias[j] to every row of out[rows x cols] (row stride `stride`, 0 = cols).
void addBiasRows(float *out, std::size_t rows, std::size_t cols, const float *bias,
                 std::size_t stride = 0);

} // namespace platform::runner
