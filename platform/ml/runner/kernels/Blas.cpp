#include "platform/ml/runner/kernels/Blas.hpp"

#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

#include <algorithm>
#include <cblas.h>

namespace platform::runner {

void gemm(bool transposeA, bool transposeB, std::size_t m, std::size_t n, std::size_t k,
          float alpha, const float *a, std::size_t lda, const float *b, std::size_t ldb, float beta,
          float *c, std::size_t ldc) {
  if (m == 0 || n == 0) {
    return;
  }
  cblas_sgemm(CblasRowMajor, transposeA ? CblasTrans : CblasNoTrans,
              transposeB ? CblasTrans : CblasNoTrans, static_cast<int>(m), static_cast<int>(n),
              static_cast<int>(k), alpha, a, static_cast<int>(lda), b, static_cast<int>(ldb), beta,
              c, static_cast<int>(ldc));
}

void gemvRows(const float *a, std::size_t rows, std::size_t cols, std::size_t lda, const float *x,
              float *y) {
  // About 32 KiB of matrix per chunk: small enough that a late thread delays the step little.
  const std::size_t grain = std::max<std::size_t>(1, 8192 / std::max<std::size_t>(1, cols));
  parallelFor(0, rows, grain, [&](std::size_t begin, std::size_t end) {
    for (std::size_t r = begin; r < end; ++r) {
      y[r] = dot(a + r * lda, x, cols);
    }
  });
}

} // namespace platform::runner
