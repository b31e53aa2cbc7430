#pragma once

#include <cstddef>

namespace platform::runner {

// A read-only row-major float32 matrix held by reference; the owner keeps the storage alive.
struct MatrixView {
  const float *data = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;
};

// out[rows x weight.rows] = x[rows x weight.cols] * weight^T + bias (bias may be null).
// `x` has `xStride` elements per row, `out` has `outStride` (0 means tightly packed).
// One row runs as a matrix-vector product. Calls BLAS: not from inside parallelFor.
void linear(const float *x, std::size_t rows, MatrixView weight, const float *bias, float *out,
            std::size_t xStride = 0, std::size_t outStride = 0);

// Adds bias[j] to every row of out[rows x cols] (row stride `stride`, 0 = cols).
void addBiasRows(float *out, std::size_t rows, std::size_t cols, const float *bias,
                 std::size_t stride = 0);

} // namespace platform::runner
