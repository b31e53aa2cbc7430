#pragma once

// The instruction-set builds of VectorOps' activation loops, each defined in a translation unit
// compiled for its instruction set. Only VectorOps.cpp calls them, and only after checking the CPU.

#include <cstddef>

namespace platform::runner::simd {

float expShiftedInPlaceAvx2(float *x, std::size_t count);
void softmaxInPlaceAvx2(float *x, std::size_t count);
void layerNormAvx2(const float *x, const float *gamma, const float *beta, float epsilon, float *out,
                   std::size_t count);
void geluInPlaceAvx2(float *x, std::size_t count);
void log10InPlaceAvx2(float *x, std::size_t count);

float expShiftedInPlaceAvx512(float *x, std::size_t count);
void softmaxInPlaceAvx512(float *x, std::size_t count);
void layerNormAvx512(const float *x, const float *gamma, const float *beta, float epsilon,
                     float *out, std::size_t count);
void geluInPlaceAvx512(float *x, std::size_t count);
void log10InPlaceAvx512(float *x, std::size_t count);

} // namespace platform::runner::simd
