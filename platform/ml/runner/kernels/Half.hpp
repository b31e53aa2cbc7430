#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::runner {

// IEEE 754 binary16 values are handled as their raw bits so the runner's arithmetic never depends
// on compiler support for a half type.

// Exact widening of one binary16 value.
float halfToFloat(std::uint16_t bits);

// Narrowing with round-to-nearest-even; overflow gives infinity, NaN stays NaN.
std::uint16_t floatToHalf(float value);

// Bulk conversions over `count` elements; source and destination must not overlap.
void halfToFloat(const std::uint16_t *source, float *destination, std::size_t count);
void floatToHalf(const float *source, std::uint16_t *destination, std::size_t count);

// The widening table: entry i is the float value of the binary16 bits i. Built once; lookups are
// the fast path of the decoder's cache reads.
const float *halfToFloatTable();

} // namespace platform::runner
