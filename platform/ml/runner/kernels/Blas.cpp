#include "platform/ml/runner/kernels/Blas.hpp"

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

void gemv(bool transposeA, std::size_t m, std::size_t n, float alpha, const float *a,
          std::size_t lda, const float *x, float beta, float *y) {
  if (m == 0 || n == 0) {
    return;
  }
  cblas_sgemv(CblasRowMajor, transposeA ? CblasTrans : CblasNoTrans, static_cast<int>(m),
              static_cast<int>(n), alpha, a, static_cast<int>(lda), x, 1, beta, y, 1);
}

} // namespace platform::runner
