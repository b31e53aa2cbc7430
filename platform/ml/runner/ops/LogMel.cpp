#include "platform/ml/runner/ops/LogMel.hpp"

#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace platform::runner {

LogMelPlan::LogMelPlan(std::size_t samples, std::size_t fftLength, std::size_t hop,
                       MatrixView filters)
    : samples_(samples), fftLength_(fftLength), hop_(hop), frames_(samples / hop),
      bins_(fftLength / 2 + 1), filters_(filters), basis_(fftLength * 2 * (fftLength / 2 + 1)) {
  const double twoPi = 2.0 * std::numbers::pi;
  for (std::size_t n = 0; n < fftLength_; ++n) {
    const double window =
        0.5 - 0.5 * std::cos(twoPi * static_cast<double>(n) / static_cast<double>(fftLength_));
    for (std::size_t k = 0; k < bins_; ++k) {
      // Reducing k * n modulo the length keeps the angle exact for high bins.
      const double angle =
          twoPi * static_cast<double>((k * n) % fftLength_) / static_cast<double>(fftLength_);
      basis_[n * 2 * bins_ + k] = static_cast<float>(window * std::cos(angle));
      basis_[n * 2 * bins_ + bins_ + k] = static_cast<float>(-window * std::sin(angle));
    }
  }
}

std::size_t LogMelPlan::scratchSize() const {
  return frames_ * fftLength_ + frames_ * 2 * bins_ + frames_ * filters_.rows;
}

void LogMelPlan::run(const float *audio, float *scratch, float *out) const {
  float *framed = scratch;
  float *spectrum = framed + frames_ * fftLength_;
  float *mel = spectrum + frames_ * 2 * bins_;
  const std::size_t half = fftLength_ / 2;
  const std::size_t n = samples_;
  // Reflection without repeating the edge sample, as the usual centred STFT pads.
  auto sample = [&](std::ptrdiff_t index) {
    std::ptrdiff_t i = index - static_cast<std::ptrdiff_t>(half);
    const auto last = static_cast<std::ptrdiff_t>(n) - 1;
    if (i < 0) {
      i = -i;
    } else if (i > last) {
      i = 2 * last - i;
    }
    i = std::clamp<std::ptrdiff_t>(i, 0, last);
    return audio[i];
  };
  parallelFor(0, frames_, 64, [&](std::size_t begin, std::size_t end) {
    for (std::size_t t = begin; t < end; ++t) {
      float *row = framed + t * fftLength_;
      const auto start = static_cast<std::ptrdiff_t>(t * hop_);
      for (std::size_t j = 0; j < fftLength_; ++j) {
        row[j] = sample(start + static_cast<std::ptrdiff_t>(j));
      }
    }
  });
  gemm(false, false, frames_, 2 * bins_, fftLength_, 1.0f, framed, fftLength_, basis_.data(),
       2 * bins_, 0.0f, spectrum, 2 * bins_);
  parallelFor(0, frames_, 64, [&](std::size_t begin, std::size_t end) {
    for (std::size_t t = begin; t < end; ++t) {
      float *row = spectrum + t * 2 * bins_;
      for (std::size_t k = 0; k < bins_; ++k) {
        const float re = row[k];
        const float im = row[bins_ + k];
        row[k] = re * re + im * im;
      }
    }
  });
  // mel[frames x melCount] = power[frames x bins] * filters^T
  gemm(false, true, frames_, filters_.rows, bins_, 1.0f, spectrum, 2 * bins_, filters_.data,
       filters_.cols, 0.0f, mel, filters_.rows);
  const std::size_t count = frames_ * filters_.rows;
  float maximum = -1.0e30f;
  for (std::size_t i = 0; i < count; ++i) {
    mel[i] = std::log10(std::max(mel[i], 1.0e-10f));
    maximum = std::max(maximum, mel[i]);
  }
  const float floor = maximum - 8.0f;
  for (std::size_t m = 0; m < filters_.rows; ++m) {
    for (std::size_t t = 0; t < frames_; ++t) {
      out[m * frames_ + t] = (std::max(mel[t * filters_.rows + m], floor) + 4.0f) / 4.0f;
    }
  }
}

} // namespace platform::runner
