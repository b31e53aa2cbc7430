#pragma once

// The instruction-set bodies of Gemm.hpp, defined in a translation unit compiled for
// AVX-512. Only Gemm.cpp calls it, and only after checking the CPU.

#include <cstddef>

namespace platform::runner::simd {

// One tile of C, kGemmPanelRows x kGemmPanelCols, from a packed A panel and a packed B panel over
// `kc` steps: c[i * ldc + j] = alpha * sum + beta * c[i * ldc + j] + bias[j] for i < rows and
// j < cols (C not read when beta is 0; bias may be null), then the exact GELU of that when
// `activate`.
void gemmTileAvx512(std::size_t kc, const float *a, const float *b, float *c, std::size_t ldc,
                    std::size_t rows, std::size_t cols, float alpha, float beta, const float *bias,
                    bool activate);

// Every column j < 32 of panel[rows x 32] becomes exp(x - the column's maximum); sums[j] gets
// the column's new sum.
void expShiftedColumnsAvx512(float *panel, std::size_t rows, float *sums);

} // namespace platform::runner::simd
