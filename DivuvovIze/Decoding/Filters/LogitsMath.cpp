#include "DivuvovIze/Decoding/Filters/LogitsMath.hpp"

#include <cstdint>
#include <cstring>
#include <limits>

namespace divuvovize::logitsmath {
namespace {

// exp(x) by range reduction to [-ln2/2, ln2/2] and a degree-6 polynomial; 0 below -87 (where
// the true value is under the smallest normal float) and +infinity above 88. Written without
// calls or branches so a loop over it vectorizes.
inline float expApprox(float x) {
  const float clamped = x < -87.0f ? -87.0f : (x > 88.0f ? 88.0f : x);
  const float n =
      static_cast<float>(static_cast<int>(clamped * 1.44269504f + (clamped < 0 ? -0.5f : 0.5f)));
  const float r = clamped - n * 0.693359375f + n * 2.12194440e-4f;
  float p = 1.9875691500e-4f;
  p = p * r + 1.3981999507e-3f;
  p = p * r + 8.3334519073e-3f;
  p = p * r + 4.1665795894e-2f;
  p = p * r + 1.6666665459e-1f;
  p = p * r + 5.0000001201e-1f;
  p = p * r * r + r + 1.0f;
  const std::int32_t bits = (static_cast<std::int32_t>(n) + 127) << 23;
  float scale;
  std::memcpy(&scale, &bits, sizeof scale);
  const float value = p * scale;
  return x < -87.0f ? 0.0f : (x > 88.0f ? std::numeric_limits<float>::infinity() : value);
}

} // namespace

float maxValue(const float *x, std::size_t count) {
  constexpr std::size_t kLanes = 8;
  constexpr float kNegativeInfinity = -std::numeric_limits<float>::infinity();
  float lanes[kLanes] = {kNegativeInfinity, kNegativeInfinity, kNegativeInfinity,
                         kNegativeInfinity, kNegativeInfinity, kNegativeInfinity,
                         kNegativeInfinity, kNegativeInfinity};
  std::size_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    for (std::size_t k = 0; k < kLanes; ++k) {
      lanes[k] = x[i + k] > lanes[k] ? x[i + k] : lanes[k];
    }
  }
  float best = kNegativeInfinity;
  for (; i < count; ++i) {
    best = x[i] > best ? x[i] : best;
  }
  for (const float lane : lanes) {
    best = lane > best ? lane : best;
  }
  return best;
}

float sumExp(const float *x, std::size_t count, float scale, float shift) {
  // Several lanes keep the additions independent so the loop vectorizes without reassociation.
  constexpr std::size_t kLanes = 8;
  float lanes[kLanes] = {};
  std::size_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    for (std::size_t k = 0; k < kLanes; ++k) {
      lanes[k] += expApprox(x[i + k] * scale - shift);
    }
  }
  float sum = 0;
  for (; i < count; ++i) {
    sum += expApprox(x[i] * scale - shift);
  }
  for (const float lane : lanes) {
    sum += lane;
  }
  return sum;
}

} // namespace divuvovize::logitsmath
