#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform::runner {

// Single-precision matrix products for the encoder: C[m x n] = alpha * A[m x k] * B[k x n] +
// beta * C + bias, A row-major float32, B float32 or float16. Two paths, by the kernels' chosen
// instruction set (InstructionSet.hpp): on AVX-512 the runner's own product, which packs A and B
// into panels (float16 B widened while it is packed, so no separate widening pass) and runs a
// register-blocked kernel over them on the parallelFor pool; elsewhere the BLAS library.

enum class GemmPath { blas, avx512 };

// The path products take.
GemmPath gemmPath();

// The B operand, k x n; element (p, j) is row p, column j.
struct GemmB {
  const float *data = nullptr; // float32 elements; null for float16
  std::size_t ld = 0;          // elements between consecutive stored rows
  bool transposed = false; // float32: (p, j) at data[j * ld + p] when set, else data[p * ld + j]
  // Float16 elements are stored transposed ([n x k], stored row j is column j), the stored rows
  // in blocks of `halfBlockRows` at half[0..]: row j at half[j / halfBlockRows] +
  // (j % halfBlockRows) * ld. Up to half.size() blocks.
  std::array<const std::uint16_t *, 3> half{};
  std::size_t halfBlockRows = 0;

  bool isHalf() const { return data == nullptr; }
};

// What is applied to each result element last.
enum class GemmActivation {
  none,
  gelu, // x * Phi(x), the exact GELU (within 6e-7 of its error function)
};

// C[m x n] = activation(alpha * A * B + beta * C + bias[j]) on every row. `bias` may be null; beta
// 0 means C is not read (it may hold anything). A has `lda` elements per row, C `ldc`. Runs on the
// parallelFor pool and the BLAS library's threads: call it from outside parallelFor.
// `bScratch` is caller-owned scratch of packedBSize(k, n) floats, or null. The BLAS path widens
// float16 B into it (required then; unused for float32 B). The runner's path packs B into it, or
// when it is null into scratch of the calling thread kept for later calls; either way, once warm
// it allocates nothing.
void gemmProduct(std::size_t m, std::size_t n, std::size_t k, float alpha, const float *a,
                 std::size_t lda, const GemmB &b, float beta, float *c, std::size_t ldc,
                 const float *bias = nullptr, float *bScratch = nullptr,
                 GemmActivation activation = GemmActivation::none);

// destination[j * k + p] = element (p, j) of float16 B widened: B^T as a dense [n x k] matrix,
// spread over parallelFor. Not from inside parallelFor.
void widenHalfB(const GemmB &b, std::size_t k, std::size_t n, float *destination);

// Packed operands, for callers that reuse a packed operand across products or lay out a product's
// result as the next one's packed operand (attention). A packed A is ceil(m / kGemmPanelRows)
// panels of k x kGemmPanelRows (element (i, p) of a panel at p * kGemmPanelRows + i, rows past m
// zero); a packed B is ceil(n / kGemmPanelCols) panels of k x kGemmPanelCols (element (p, j) at
// p * kGemmPanelCols + j, columns past n zero). Packed storage should be 64-byte aligned.
inline constexpr std::size_t kGemmPanelRows = 14;
inline constexpr std::size_t kGemmPanelCols = 32;

std::size_t packedASize(std::size_t m, std::size_t k);
std::size_t packedBSize(std::size_t k, std::size_t n);
// Packs A (row-major, `lda` per row) or B. Single-threaded, never allocate.
// A transposed A is stored column-major: element (i, p) at a[p * lda + i].
void packA(const float *a, std::size_t lda, std::size_t m, std::size_t k, float *packed,
           bool transposed = false);
void packB(const GemmB &b, std::size_t k, std::size_t n, float *packed);
// Packs only B's panels [firstPanel, lastPanel) into their places in `packed`.
void packBPanels(const GemmB &b, std::size_t k, std::size_t n, std::size_t firstPanel,
                 std::size_t lastPanel, float *packed);

// C[m x n] = activation(alpha * A * B + beta * C + bias) from packed operands, on the calling
// thread (it may run inside parallelFor). Runs the AVX-512 kernel where the path has it, else a
// portable one. Never allocates.
void gemmPacked(std::size_t m, std::size_t n, std::size_t k, float alpha, const float *packedA,
                const float *packedB, float beta, float *c, std::size_t ldc,
                const float *bias = nullptr, GemmActivation activation = GemmActivation::none);

// Softmax down the columns of one packed B panel, without the final division: every column j of
// panel[rows x kGemmPanelCols] becomes exp(x - the column's maximum) and sums[j] (kGemmPanelCols
// floats) the column's new sum. Columns hold finite values. Single-threaded, never allocates.
void expShiftedColumns(float *panel, std::size_t rows, float *sums);

} // namespace platform::runner
