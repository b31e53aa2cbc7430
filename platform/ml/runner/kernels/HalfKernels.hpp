#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform::runner {

// Kernels over float16 weights (IEEE binary16 bits) that compute in float32. Each has a portable
// body and, on x86-64, one for F16C with AVX2 and FMA and one for AVX-512, compiled in translation
// units of their own so the binary still runs on any x86-64 CPU. The best body the CPU offers is
// chosen at first use, as the BLAS library's core is. All are single-threaded and never allocate;
// `a`, `source` and `x` must be 2-byte aligned.

enum class HalfKernelPath { portable, avx2, avx512 };

// "portable", "avx2" or "avx512".
std::string_view halfKernelPathName(HalfKernelPath path);
// Whether this CPU and build can run `path` (the portable path always can).
bool halfKernelPathAvailable(HalfKernelPath path);
// The path the kernels take: the best available one unless a path was forced.
HalfKernelPath halfKernelPath();
// Makes every later call take `path`, so tests and benchmarks can compare paths. Throws
// std::invalid_argument when the CPU lacks it. Call it while no kernel runs.
void forceHalfKernelPath(HalfKernelPath path);
// Returns to the best available path.
void resetHalfKernelPath();

// y[r] = sum over c < cols of a[r * lda + c] * x[c], for r < rows, accumulated in float32.
void halfDotRows(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                 const float *x, float *y);

// y[c] = sum over r < rows of x[r] * a[r * lda + c], for c < cols, accumulated in float32: the
// product with the transposed matrix, reading each row once, front to back.
void halfDotColumns(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                    const float *x, float *y);

// destination[i] = source[i] narrowed to float16 bits, rounded to nearest even (as floatToHalf,
// up to the payload of a NaN); the two must not overlap.
void narrowToHalf(const float *source, std::uint16_t *destination, std::size_t count);

// destination[i] = source[i] widened (exactly); the two must not overlap.
void widenHalf(const std::uint16_t *source, float *destination, std::size_t count);

// y[i] += x[i] widened.
void addHalf(float *y, const std::uint16_t *x, std::size_t count);

} // namespace platform::runner
