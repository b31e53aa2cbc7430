#pragma once

// The loops over whole activation vectors, shared by the builds of VectorOps for each instruction
// set (VectorOps.cpp for the baseline, VectorOpsAvx2.cpp, VectorOpsAvx512.cpp); the reductions
// they use are in ReductionBodies.hpp. Written once over the vector types of SimdScalar.hpp,
// SimdAvx2.hpp and SimdAvx512.hpp (the layer norm's double sums over one element, left to the
// compiler's vectoriser); no build contracts multiplies and adds, so every instruction set gives
// the baseline's bits, and a vector's lanes the scalar function's. Everything
// here has internal linkage and calls no inline library function, so a copy built for AVX-512 can
// never be the one the linker keeps for code that runs on a CPU without it. Include only there.

#include "platform/ml/runner/kernels/ReductionBodies.hpp"

#include <cstddef>
#include <cstdint>

namespace platform::runner::vectorbodies {
namespace {

// The sign bit of a float's bits, and the others.
constexpr std::int32_t kSignBit = static_cast<std::int32_t>(0x80000000u);
constexpr std::int32_t kMagnitudeBits = 0x7fffffff;

template <class V> [[gnu::always_inline]] inline typename V::Vector erf(typename V::Vector x) {
  using Vector = typename V::Vector;
  using Ints = typename V::Ints;
  // Abramowitz and Stegun 7.1.26 (1.5e-7 in exact arithmetic, 6e-7 in float), odd by symmetry.
  const Ints bits = __builtin_bit_cast(Ints, x);
  const Vector a = __builtin_bit_cast(Vector, bits & kMagnitudeBits);
  const Vector t = 1.0f / (1.0f + 0.3275911f * a);
  Vector p = V::broadcast(1.061405429f);
  p = p * t - 1.453152027f;
  p = p * t + 1.421413741f;
  p = p * t - 0.284496736f;
  p = p * t + 0.254829592f;
  const Vector y = 1.0f - p * t * bodies::exp<V>(-a * a);
  return __builtin_bit_cast(Vector,
                            (__builtin_bit_cast(Ints, y) & kMagnitudeBits) | (bits & kSignBit));
}

template <class V> [[gnu::always_inline]] inline typename V::Vector log10(typename V::Vector x) {
  using Vector = typename V::Vector;
  using Ints = typename V::Ints;
  // x = m * 2^e with m in [sqrt(1/2), sqrt(2)); ln(m) by a degree-8 polynomial in m - 1 (Cephes),
  // ln 2 in two parts so e * ln 2 adds no rounding of its own. Branch-free.
  const Ints bits = __builtin_bit_cast(Ints, x);
  const Ints mantissa = bits & 0x007fffff;
  const auto low = mantissa < Ints{} + 0x003504f3; // mantissa below sqrt(2) / 2 * 2
  const Vector e = V::fromInts(((bits >> 23) & 0xff) - (low ? Ints{} + 127 : Ints{} + 126));
  const Vector m =
      __builtin_bit_cast(Vector, mantissa | (low ? Ints{} + 0x3f800000 : Ints{} + 0x3f000000)) -
      1.0f;
  const Vector z = m * m;
  Vector p = V::broadcast(7.0376836292e-2f);
  p = p * m - 1.1514610310e-1f;
  p = p * m + 1.1676998740e-1f;
  p = p * m - 1.2420140846e-1f;
  p = p * m + 1.4249322787e-1f;
  p = p * m - 1.6668057665e-1f;
  p = p * m + 2.0000714765e-1f;
  p = p * m - 2.4999993993e-1f;
  p = p * m + 3.3333331174e-1f;
  const Vector ln = m + (p * m * z - 2.12194440e-4f * e - 0.5f * z) + 0.693359375f * e;
  const Vector result = ln * 0.43429448190325182f;
  // Infinity and NaN are their own results.
  return x < V::broadcast(__builtin_inff()) ? result : x;
}

// x[i] = f(x[i]) in whole vectors, then one by one.
template <class V, class Element> void mapInPlace(float *x, std::size_t count, Element f) {
  std::size_t i = 0;
  for (; i + V::kWidth <= count; i += V::kWidth) {
    V::store(x + i, f(V{}, V::load(x + i)));
  }
  for (; i < count; ++i) {
    x[i] = f(Scalar{}, x[i]);
  }
}

template <class V> void log10InPlaceBody(float *x, std::size_t count) {
  mapInPlace<V>(x, count, [](auto lanes, auto v) { return log10<decltype(lanes)>(v); });
}

template <class V> void softmaxInPlaceBody(float *x, std::size_t count) {
  if (count == 0) {
    return;
  }
  const float scale = 1.0f / bodies::expShiftedInPlace<V>(x, count);
  for (std::size_t i = 0; i < count; ++i) {
    x[i] *= scale;
  }
}

void layerNormBody(const float *x, const float *gamma, const float *beta, float epsilon, float *out,
                   std::size_t count) {
  if (count == 0) {
    return;
  }
  // Eight independent double lanes: one running sum would wait on each add in turn.
  constexpr std::size_t kSumLanes = 8;
  auto laneSum = [&](auto term) {
    double lanes[kSumLanes] = {};
    std::size_t i = 0;
    for (; i + kSumLanes <= count; i += kSumLanes) {
      for (std::size_t j = 0; j < kSumLanes; ++j) {
        lanes[j] += term(i + j);
      }
    }
    double sum = 0.0;
    for (; i < count; ++i) {
      sum += term(i);
    }
    for (double lane : lanes) {
      sum += lane;
    }
    return sum;
  };
  const double mean = laneSum([&](std::size_t i) { return static_cast<double>(x[i]); }) /
                      static_cast<double>(count);
  const double variance = laneSum([&](std::size_t i) {
                            const double d = x[i] - mean;
                            return d * d;
                          }) /
                          static_cast<double>(count);
  const float m = static_cast<float>(mean);
  const float inverse = static_cast<float>(1.0 / __builtin_sqrt(variance + epsilon));
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = (x[i] - m) * inverse * gamma[i] + beta[i];
  }
}

constexpr float kInverseSqrt2 = 0.70710678118654752f;

template <class V> void geluInPlaceBody(float *x, std::size_t count) {
  mapInPlace<V>(x, count, [](auto lanes, auto v) {
    return 0.5f * v * (1.0f + erf<decltype(lanes)>(v * kInverseSqrt2));
  });
}

} // namespace
} // namespace platform::runner::vectorbodies
