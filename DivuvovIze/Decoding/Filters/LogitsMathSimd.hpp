#pragma once

// The builds of LogitsMath's reductions for each x86-64 level, each defined in a translation unit
// compiled for its instruction set. LogitsMath.cpp calls the best the CPU offers; tests compare
// the levels the CPU runs.

#include "DivuvovIze/Decoding/Filters/LogitsMath.hpp"

#include <cstddef>

namespace divuvovize::logitsmath::simd {

float maxValueBaseline(const float *x, std::size_t count);
MaxEntry maxEntryBaseline(const float *x, std::size_t count);
float sumExpBaseline(const float *x, std::size_t count, float scale, float shift);

float maxValueAvx2(const float *x, std::size_t count);
MaxEntry maxEntryAvx2(const float *x, std::size_t count);
float sumExpAvx2(const float *x, std::size_t count, float scale, float shift);

float maxValueAvx512(const float *x, std::size_t count);
MaxEntry maxEntryAvx512(const float *x, std::size_t count);
float sumExpAvx512(const float *x, std::size_t count, float scale, float shift);

} // namespace divuvovize::logitsmath::simd
