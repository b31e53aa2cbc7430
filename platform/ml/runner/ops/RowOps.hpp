#pragma once

#include <cstddef>

namespace platform::runner {

// Row-wise operations over row-major float32 matrices, spread over parallelFor.

// out[r] = layerNorm(x[r]) for every row; x and out may alias.
void layerNormRows(const float *x, std::size_t rows, std::size_t cols, const float *gamma,
                   const float *beta, float epsilon, float *out);

// y[r] += x[r] + bias for every row of [rows x cols] (contiguous).
void addRowsWithBias(float *y, const float *x, const float *bias, std::size_t rows,
                     std::size_t cols);

// y += x over rows * cols contiguous elements.
void addAll(float *y, const float *x, std::size_t count);

// Transposes src[rows x cols] (row stride srcStride) into dst[cols x rows] (row stride dstStride).
void transpose(const float *src, std::size_t rows, std::size_t cols, std::size_t srcStride,
               float *dst, std::size_t dstStride);

} // namespace platform::runner
