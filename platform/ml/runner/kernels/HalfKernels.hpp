#pragma once

#include "platform/ml/VectorKernels.hpp"

#include <cstddef>
#include <cstdint>

namespace platform::runner {

// Kernels over float16 weights (IEEE binary16 bits) that compute in float32, with a portable build
// and, on x86-64, one for each instruction set (see InstructionSet.hpp); narrowToHalf, which the
// engine uses too, is declared in platform/ml/VectorKernels.hpp. All are single-threaded and never
// allocate; `a`, `source` and `x` must be 2-byte aligned.

// y[r] = sum over c < cols of a[r * lda + c] * x[c], for r < rows, accumulated in float32.
void halfDotRows(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                 const float *x, float *y);

// y[c] = sum over r < rows of x[r] * a[r * lda + c], for c < cols, accumulated in float32: the
// product with the transposed matrix, reading each row once, front to back.
void halfDotColumns(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                    const float *x, float *y);

// destination[i] = source[i] widened (exactly); the two must not overlap.
void widenHalf(const std::uint16_t *source, float *destination, std::size_t count);

// y[i] += x[i] widened.
void addHalf(float *y, const std::uint16_t *x, std::size_t count);

} // namespace platform::runner
