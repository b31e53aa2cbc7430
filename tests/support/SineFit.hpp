#pragma once

#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

namespace mqtest {

// A sine of known frequency fitted to a signal by least squares.
struct SineFit {
  double amplitude;
  double phaseError; // radians against sin(2 pi f t), t = index / rate
  double residualDb; // what is left after removing the fitted sine, relative to it
};

// Least-squares fit of a sine of `frequency` Hz over [begin, end) of `x` sampled at `rate`.
inline SineFit fitSine(const std::vector<float> &x, double rate, double frequency,
                       std::size_t begin, std::size_t end) {
  double sinSum = 0, cosSum = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const double w = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
    sinSum += x[i] * std::sin(w);
    cosSum += x[i] * std::cos(w);
  }
  const double n = static_cast<double>(end - begin);
  const double b = 2 * sinSum / n, a = 2 * cosSum / n;
  double residual = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const double w = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
    const double r = x[i] - (b * std::sin(w) + a * std::cos(w));
    residual += r * r;
  }
  const double amplitude = std::hypot(a, b);
  return {amplitude, std::atan2(a, b),
          20 * std::log10(std::sqrt(residual / n) / (amplitude / std::sqrt(2.0)))};
}

} // namespace mqtest
