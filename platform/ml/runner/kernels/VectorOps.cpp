#include "platform/ml/runner/kernels/VectorOps.hpp"

#include <algorithm>
#include <cmath>

namespace platform::runner {

float dot(const float *a, const float *b, std::size_t count) {
  constexpr std::size_t kLanes = 16;
  float lanes[kLanes] = {};
  std::size_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    for (std::size_t j = 0; j < kLanes; ++j) {
      lanes[j] += a[i + j] * b[i + j];
    }
  }
  float sum = 0.0f;
  for (; i < count; ++i) {
    sum += a[i] * b[i];
  }
  for (std::size_t j = 0; j < kLanes; ++j) {
    sum += lanes[j];
  }
  return sum;
}

void axpy(float alpha, const float *x, float *y, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    y[i] += alpha * x[i];
  }
}

void softmaxInPlace(float *x, std::size_t count) {
  if (count == 0) {
    return;
  }
  const float maximum = *std::max_element(x, x + count);
  float sum = 0.0f;
  for (std::size_t i = 0; i < count; ++i) {
    x[i] = std::exp(x[i] - maximum);
    sum += x[i];
  }
  const float scale = 1.0f / sum;
  for (std::size_t i = 0; i < count; ++i) {
    x[i] *= scale;
  }
}

void layerNorm(const float *x, const float *gamma, const float *beta, float epsilon, float *out,
               std::size_t count) {
  if (count == 0) {
    return;
  }
  double mean = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    mean += x[i];
  }
  mean /= static_cast<double>(count);
  double variance = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double d = x[i] - mean;
    variance += d * d;
  }
  variance /= static_cast<double>(count);
  const float m = static_cast<float>(mean);
  const float inverse = static_cast<float>(1.0 / std::sqrt(variance + epsilon));
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = (x[i] - m) * inverse * gamma[i] + beta[i];
  }
}

void geluInPlace(float *x, std::size_t count) {
  constexpr float kInverseSqrt2 = 0.70710678118654752f;
  for (std::size_t i = 0; i < count; ++i) {
    x[i] = 0.5f * x[i] * (1.0f + std::erf(x[i] * kInverseSqrt2));
  }
}

void addInPlace(float *y, const float *x, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    y[i] += x[i];
  }
}

} // namespace platform::runner
