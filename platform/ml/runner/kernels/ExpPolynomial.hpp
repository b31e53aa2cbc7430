#pragma once

namespace platform::runner {
// Internal linkage and always inlined: the bodies that use it are built once per instruction
// set, and one shared out-of-line copy would be called across their different vector ABIs.
namespace {

// e^r for |r| <= ln 2 / 2, the reduced argument of an exponential, by a degree-7 polynomial.
// `T` is float or a vector of floats (the compiler's vector extensions): the same operations in
// the same order, so every lane of a vector body gives the scalar body's bits.
template <class T> [[gnu::always_inline]] inline T expPolynomial(T r) {
  T p = T{} + 1.9875691500e-4f;
  p = p * r + 1.3981999507e-3f;
  p = p * r + 8.3334519073e-3f;
  p = p * r + 4.1665795894e-2f;
  p = p * r + 1.6666665459e-1f;
  p = p * r + 5.0000001201e-1f;
  return p * r * r + r + 1.0f;
}

} // namespace
} // namespace platform::runner
