#pragma once

// The instruction-set bodies of HalfKernels.hpp, each defined in a translation unit compiled for
// its instruction set. Only HalfKernels.cpp calls them, and only after checking the CPU.

#include <cstddef>
#include <cstdint>

namespace platform::runner::simd {

void halfDotRowsAvx2(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                     const float *x, float *y);
void widenHalfAvx2(const std::uint16_t *source, float *destination, std::size_t count);
void addHalfAvx2(float *y, const std::uint16_t *x, std::size_t count);
void halfDotColumnsAvx2(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                        const float *x, float *y);
void narrowToHalfAvx2(const float *source, std::uint16_t *destination, std::size_t count);

void halfDotRowsAvx512(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                       const float *x, float *y);
void widenHalfAvx512(const std::uint16_t *source, float *destination, std::size_t count);
void addHalfAvx512(float *y, const std::uint16_t *x, std::size_t count);
void halfDotColumnsAvx512(const std::uint16_t *a, std::size_t rows, std::size_t cols,
                          std::size_t lda, const float *x, float *y);
void narrowToHalfAvx512(const float *source, std::uint16_t *destination, std::size_t count);

} // namespace platform::runner::simd
