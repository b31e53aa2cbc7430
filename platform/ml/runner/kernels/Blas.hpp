#pragma once

#include <cstddef>

namespace platform::runner {

// Thin, row-major wrappers over the BLAS library so no header outside this file depends on it.
// All matrices are float32, row-major, with explicit leading dimensions (elements per row).
// These may use the BLAS library's own threads: call them from outside parallelFor.

// C[m x n] = alpha * op(A) * op(B) + beta * C, op(X) = X or its transpose.
void gemm(bool transposeA, bool transposeB, std::size_t m, std::size_t n, std::size_t k,
          float alpha, const float *a, std::size_t lda, const float *b, std::size_t ldb, float beta,
          float *c, std::size_t ldc);

// y[rows] = A[rows x cols] * x with rows spread over parallelFor: the memory-bound product of one
// decoder step, kept off the BLAS library's threads so the step wakes only one pool.
void gemvRows(const float *a, std::size_t rows, std::size_t cols, std::size_t lda, const float *x,
              float *y);

} // namespace platform::runner
