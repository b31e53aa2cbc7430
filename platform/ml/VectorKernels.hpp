#pragma once

#include <cstddef>
#include <cstdint>

// Kernels of the CPU model runner that the engine uses on its own data: reductions over a
// decoder step's logits and float16 narrowing. Each runs on the widest vectors the CPU offers
// (the runner's one instruction-set choice), allocates nothing and is single-threaded.
namespace platform::runner {

// Reductions with the same result on every CPU; -infinity entries (masked tokens) are allowed
// anywhere.

// The largest element; -infinity for an empty run or one of only -infinity (NaNs are skipped).
float maxValue(const float *x, std::size_t count);

// The largest element with the first index that holds it: the arg-max of a greedy choice.
struct MaxEntry {
  float value = 0;       // -infinity when no element exceeds it (NaNs are skipped)
  std::size_t index = 0; // `count` then
};
MaxEntry maxEntry(const float *x, std::size_t count);

// Sum of exp(x[i] * scale - shift), each term within a few units in the last place; terms whose
// exponent lies below -87 count as 0, above 88 as infinity.
float sumExp(const float *x, std::size_t count, float scale, float shift);

// destination[i] = source[i] narrowed to float16 bits, rounded to nearest even (up to the payload
// of a NaN); the two must not overlap.
void narrowToHalf(const float *source, std::uint16_t *destination, std::size_t count);

} // namespace platform::runner
