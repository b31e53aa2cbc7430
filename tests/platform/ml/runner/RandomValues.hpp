#pragma once

// Uniform random operands for the runner's kernel and op tests: floats in [-magnitude,
// magnitude), and the float16 bits of such values.

#include "platform/ml/runner/kernels/Half.hpp"

#include <cstdint>
#include <random>
#include <vector>

inline std::vector<float> randomFloats(std::size_t count, std::mt19937 &generator,
                                       float magnitude = 1.0f) {
  std::uniform_real_distribution<float> value(-magnitude, magnitude);
  std::vector<float> values(count);
  for (auto &v : values) {
    v = value(generator);
  }
  return values;
}

inline std::vector<std::uint16_t> randomHalves(std::size_t count, std::mt19937 &generator) {
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  std::vector<std::uint16_t> bits(count);
  for (auto &b : bits) {
    b = platform::runner::floatToHalf(value(generator));
  }
  return bits;
}
