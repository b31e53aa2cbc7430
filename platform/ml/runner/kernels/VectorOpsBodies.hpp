#pragma once

// The loops over whole activation vectors, shared by the builds of VectorOps for each x86-64
// level (VectorOps.cpp for the baseline, VectorOpsAvx2.cpp, VectorOpsAvx512.cpp). Everything here
// has internal linkage and calls no inline library function, so a copy built for AVX-512 can
// never be the one the linker keeps for code that runs on a CPU without it. Include only there.

#include "platform/ml/runner/kernels/ExpPolynomial.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace platform::runner::vectorbodies {
namespace {

// Sums and maxima in several independent lanes, so the loops vectorize without reordering any
// one lane's arithmetic.
constexpr std::size_t kLanes = 16;

float sumOf(const float *x, std::size_t count) {
  float lanes[kLanes] = {};
  std::size_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    for (std::size_t j = 0; j < kLanes; ++j) {
      lanes[j] += x[i + j];
    }
  }
  float sum = 0.0f;
  for (; i < count; ++i) {
    sum += x[i];
  }
  for (float lane : lanes) {
    sum += lane;
  }
  return sum;
}

float maximumOf(const float *x, std::size_t count) {
  float lanes[kLanes];
  for (float &lane : lanes) {
    lane = -INFINITY;
  }
  std::size_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    for (std::size_t j = 0; j < kLanes; ++j) {
      lanes[j] = lanes[j] < x[i + j] ? x[i + j] : lanes[j];
    }
  }
  float maximum = -INFINITY;
  for (; i < count; ++i) {
    maximum = maximum < x[i] ? x[i] : maximum;
  }
  for (float lane : lanes) {
    maximum = maximum < lane ? lane : maximum;
  }
  return maximum;
}

float expKernel(float x) {
  // exp(x) = 2^n * exp(r) with n = round(x / ln 2) and |r| <= ln 2 / 2; exp(r) by a degree-7
  // polynomial. Branch-free so loops over it vectorize.
  constexpr float kLog2e = 1.44269504088896341f;
  constexpr float kLn2High = 0.693359375f;
  constexpr float kLn2Low = -2.12194440e-4f;
  constexpr float kRound = 12582912.0f; // 1.5 * 2^23: adding it rounds to an integer
  const float raised = x < -87.0f ? -87.0f : x;
  const float clamped = 88.0f < raised ? 88.0f : raised;
  const float n = (clamped * kLog2e + kRound) - kRound;
  const float r = clamped - n * kLn2High - n * kLn2Low;
  const float p = expPolynomial(r);
  const float scale = __builtin_bit_cast(float, (static_cast<std::int32_t>(n) + 127) << 23);
  // Below the clamp the true value is under the smallest normal float: flush to zero.
  return x < -87.0f ? 0.0f : p * scale;
}

float erfKernel(float x) {
  // Abramowitz and Stegun 7.1.26 (1.5e-7 in exact arithmetic, 6e-7 in float), odd by symmetry.
  const float a = __builtin_fabsf(x);
  const float t = 1.0f / (1.0f + 0.3275911f * a);
  float p = 1.061405429f;
  p = p * t - 1.453152027f;
  p = p * t + 1.421413741f;
  p = p * t - 0.284496736f;
  p = p * t + 0.254829592f;
  const float y = 1.0f - p * t * expKernel(-a * a);
  return __builtin_copysignf(y, x);
}

float log10Kernel(float x) {
  // x = m * 2^e with m in [sqrt(1/2), sqrt(2)); ln(m) by a degree-8 polynomial in m - 1 (Cephes),
  // ln 2 in two parts so e * ln 2 adds no rounding of its own. Branch-free so loops vectorize.
  const auto bits = __builtin_bit_cast(std::int32_t, x);
  const bool low = (bits & 0x007fffff) < 0x003504f3; // mantissa below sqrt(2) / 2 * 2
  const float e = static_cast<float>(((bits >> 23) & 0xff) - (low ? 127 : 126));
  const float m =
      __builtin_bit_cast(float, (bits & 0x007fffff) | (low ? 0x3f800000 : 0x3f000000)) - 1.0f;
  const float z = m * m;
  float p = 7.0376836292e-2f;
  p = p * m - 1.1514610310e-1f;
  p = p * m + 1.1676998740e-1f;
  p = p * m - 1.2420140846e-1f;
  p = p * m + 1.4249322787e-1f;
  p = p * m - 1.6668057665e-1f;
  p = p * m + 2.0000714765e-1f;
  p = p * m - 2.4999993993e-1f;
  p = p * m + 3.3333331174e-1f;
  const float ln = m + (p * m * z - 2.12194440e-4f * e - 0.5f * z) + 0.693359375f * e;
  const float result = ln * 0.43429448190325182f;
  // Infinity and NaN are their own results.
  return x < INFINITY ? result : x;
}

void log10InPlaceBody(float *x, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    x[i] = log10Kernel(x[i]);
  }
}

float expShiftedInPlaceBody(float *x, std::size_t count) {
  if (count == 0) {
    return 0.0f;
  }
  const float maximum = maximumOf(x, count);
  for (std::size_t i = 0; i < count; ++i) {
    x[i] = expKernel(x[i] - maximum);
  }
  return sumOf(x, count);
}

void softmaxInPlaceBody(float *x, std::size_t count) {
  if (count == 0) {
    return;
  }
  const float scale = 1.0f / expShiftedInPlaceBody(x, count);
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

void geluInPlaceBody(float *x, std::size_t count) {
  constexpr float kInverseSqrt2 = 0.70710678118654752f;
  for (std::size_t i = 0; i < count; ++i) {
    x[i] = 0.5f * x[i] * (1.0f + erfKernel(x[i] * kInverseSqrt2));
  }
}

} // namespace
} // namespace platform::runner::vectorbodies
