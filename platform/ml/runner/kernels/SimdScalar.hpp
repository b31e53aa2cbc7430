#pragma once

// The vector types the kernel bodies are written over, for the baseline build: `Scalar`, one float
// (the bodies' tails and the scalar entry points), and `Baseline`, eight floats in two SSE
// registers. SimdAvx2.hpp and SimdAvx512.hpp define the same for their instruction sets. Each
// supplies Vector (a GCC vector of kWidth floats, so + - * / and comparisons work lane by lane),
// Ints (kWidth 32-bit ints, what a comparison gives), kWidth, broadcast, load, store, toInts and
// fromInts (conversions of whole values) and
// clamp(x, low, high) = x < low ? low : (high < x ? high : x), a NaN passing through.
// Internal linkage and always inlined: the bodies that use them are built once per instruction
// set, and one shared out-of-line copy would be called across their different vector ABIs.

#include <cstddef>
#include <cstdint>

namespace platform::runner {
namespace {

#define MQ_SIMD_INLINE [[gnu::always_inline]] static inline

struct Scalar {
  using Vector = float;
  using Ints = std::int32_t;
  static constexpr std::size_t kWidth = 1;
  MQ_SIMD_INLINE Vector broadcast(float value) { return value; }
  MQ_SIMD_INLINE Vector load(const float *p) { return *p; }
  MQ_SIMD_INLINE void store(float *p, Vector v) { *p = v; }
  MQ_SIMD_INLINE Ints toInts(Vector v) { return static_cast<Ints>(v); }
  MQ_SIMD_INLINE Vector fromInts(Ints v) { return static_cast<Vector>(v); }
  MQ_SIMD_INLINE Vector clamp(Vector x, Vector low, Vector high) {
    const Vector raised = x < low ? low : x;
    return high < raised ? high : raised;
  }
};

// Generic vectors of W floats, for the baseline build (W = 8: two registers) and as the base of
// the instruction-set types.
template <std::size_t W> struct GenericLanes {
  typedef float Vector __attribute__((vector_size(W * sizeof(float))));
  typedef std::int32_t Ints __attribute__((vector_size(W * sizeof(float))));
  static constexpr std::size_t kWidth = W;
  MQ_SIMD_INLINE Vector broadcast(float value) { return Vector{} + value; }
  MQ_SIMD_INLINE Vector load(const float *p) {
    Vector v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
  }
  MQ_SIMD_INLINE void store(float *p, Vector v) { __builtin_memcpy(p, &v, sizeof v); }
  // A template only so the compiler checks the conversion once the width is known.
  template <class Floats = Vector> MQ_SIMD_INLINE Ints toInts(Floats v) {
    return __builtin_convertvector(v, Ints);
  }
  template <class Whole = Ints> MQ_SIMD_INLINE Vector fromInts(Whole v) {
    return __builtin_convertvector(v, Vector);
  }
  MQ_SIMD_INLINE Vector clamp(Vector x, Vector low, Vector high) {
    const Vector raised = x < low ? low : x;
    return high < raised ? high : raised;
  }
};

using Baseline = GenericLanes<8>;

} // namespace
} // namespace platform::runner
