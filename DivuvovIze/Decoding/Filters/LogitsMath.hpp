#pragma once

#include <cstddef>

namespace divuvovize::logitsmath {

// Reductions over runs of logits for the filters and samplers. Each is one pass, allocates
// nothing and runs on the widest vectors the CPU offers, with the same result on every CPU;
// -infinity entries (masked tokens) are allowed anywhere.

// The largest element; -infinity for an empty run or one of only -infinity (NaNs are skipped).
float maxValue(const float *x, std::size_t count);

// The largest element with the first index that holds it: the arg-max of a greedy choice.
struct MaxEntry {
  float value = 0;       // -infinity when no element exceeds it (NaNs are skipped)
  std::size_t index = 0; // `count` then
};
MaxEntry maxEntry(const float *x, std::size_t count);

// Sum of exp(x[i] * scale - shift), each term within a few units in the last place; terms
// whose exponent lies below -87 count as 0.
float sumExp(const float *x, std::size_t count, float scale, float shift);

} // namespace divuvovize::logitsmath
