#include "platform/ml/runner/importer/MelFilterbank.hpp"

#include <algorithm>
#include <cmath>

namespace platform::runner {
namespace {
constexpr double kLinearHertzPerMel = 200.0 / 3.0;
constexpr double kLogStartHertz = 1000.0;
constexpr double kLogStartMel = kLogStartHertz / kLinearHertzPerMel; // 15
const double kLogStep = std::log(6.4) / 27.0;
} // namespace

double hertzToMel(double hertz) {
  if (hertz < kLogStartHertz) {
    return hertz / kLinearHertzPerMel;
  }
  return kLogStartMel + std::log(hertz / kLogStartHertz) / kLogStep;
}

double melToHertz(double mel) {
  if (mel < kLogStartMel) {
    return mel * kLinearHertzPerMel;
  }
  return kLogStartHertz * std::exp(kLogStep * (mel - kLogStartMel));
}

std::vector<float> melFilterbank(std::size_t melCount, std::size_t fftLength, double sampleRate) {
  const std::size_t bins = fftLength / 2 + 1;
  std::vector<double> binHertz(bins);
  for (std::size_t k = 0; k < bins; ++k) {
    binHertz[k] = static_cast<double>(k) * sampleRate / static_cast<double>(fftLength);
  }
  // melCount + 2 edges equally spaced in mel from 0 Hz to the Nyquist frequency.
  const double top = hertzToMel(sampleRate / 2.0);
  std::vector<double> edges(melCount + 2);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    edges[i] = melToHertz(top * static_cast<double>(i) / static_cast<double>(melCount + 1));
  }
  std::vector<float> filters(melCount * bins, 0.0f);
  for (std::size_t m = 0; m < melCount; ++m) {
    const double lower = edges[m];
    const double centre = edges[m + 1];
    const double upper = edges[m + 2];
    const double area = 2.0 / (upper - lower);
    for (std::size_t k = 0; k < bins; ++k) {
      const double rising = (binHertz[k] - lower) / (centre - lower);
      const double falling = (upper - binHertz[k]) / (upper - centre);
      const double weight = std::max(0.0, std::min(rising, falling));
      filters[m * bins + k] = static_cast<float>(weight * area);
    }
  }
  return filters;
}

} // namespace platform::runner
