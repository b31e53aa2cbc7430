#pragma once

#include <cstddef>

namespace platform::runner {

// Small float32 vector kernels. All are single-threaded, never allocate, and tolerate any length
// (including 0). Source and destination may be the same array where a function writes in place.

// exp(x) within a few units in the last place for x above -87 (0 below, as the true value is
// under the smallest normal float). Vectorizes when called in a loop.
float fastExp(float x);
// erf(x) within 6e-7 absolute.
float fastErf(float x);
// log10(x) within a few units in the last place for positive normal x (callers floor their values
// first); infinity and NaN give themselves.
float fastLog10(float x);

// Sum of a[i] * b[i], accumulated in several independent lanes so it vectorizes.
float dot(const float *a, const float *b, std::size_t count);

// y[i] += alpha * x[i].
void axpy(float alpha, const float *x, float *y, std::size_t count);

// Replaces x with exp(x - max(x)) and returns the sum of the new values: softmax without its
// final division, for callers that divide a smaller result instead.
float expShiftedInPlace(float *x, std::size_t count);

// Replaces x with softmax(x); returns nothing. The maximum is subtracted first, so large
// negative mask values give exact zeros instead of NaN.
void softmaxInPlace(float *x, std::size_t count);

// out = (x - mean) / sqrt(variance + epsilon) * gamma + beta.
void layerNorm(const float *x, const float *gamma, const float *beta, float epsilon, float *out,
               std::size_t count);

// GELU, x * Phi(x) with the error function (within 6e-7 of it), in place.
void geluInPlace(float *x, std::size_t count);

// x[i] = fastLog10(x[i]).
void log10InPlace(float *x, std::size_t count);

// y[i] += x[i].
void addInPlace(float *y, const float *x, std::size_t count);

} // namespace platform::runner
