#include "platform/ml/runner/ops/Linear.hpp"

#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

namespace platform::runner {

void linear(const float *x, std::size_t rows, MatrixView weight, const float *bias, float *out,
            std::size_t xStride, std::size_t outStride) {
  if (xStride == 0) {
    xStride = weight.cols;
  }
  if (outStride == 0) {
    outStride = weight.rows;
  }
  if (rows == 1) {
    gemvRows(weight.data, weight.rows, weight.cols, weight.cols, x, out);
  } else {
    gemm(false, true, rows, weight.rows, weight.cols, 1.0f, x, xStride, weight.data, weight.cols,
         0.0f, out, outStride);
  }
  if (bias != nullptr) {
    addBiasRows(out, rows, weight.rows, bias, outStride);
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
