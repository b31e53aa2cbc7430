#include "platform/ml/runner/ops/LogMel.hpp"

#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <numbers>

namespace platform::runner {

namespace {

// The scaling pass's shares of the values, and the blocks it takes in turn while they are in the
// first-level cache.
constexpr std::size_t kScaleGrain = 16384;
constexpr std::size_t kScaleBlock = 2048;

// Tasks a thread the frames are shared out in, so threads slowed by others' work are made up for.
constexpr std::size_t kTasksPerThread = 4;

constexpr std::size_t kAlignedFloats = RealFft::kAlignment / sizeof(float);

std::size_t alignedCount(std::size_t floats) {
  return (floats + kAlignedFloats - 1) / kAlignedFloats * kAlignedFloats;
}

float *alignedStart(float *scratch) {
  const auto address = reinterpret_cast<std::uintptr_t>(scratch);
  const auto aligned =
      (address + RealFft::kAlignment - 1) / RealFft::kAlignment * RealFft::kAlignment;
  return scratch + (aligned - address) / sizeof(float);
}

} // namespace

LogMelPlan::LogMelPlan(std::size_t samples, std::size_t fftLength, std::size_t hop,
                       MatrixView filters)
    : samples_(samples), fftLength_(fftLength), hop_(hop), frames_(samples / hop),
      bins_(fftLength / 2 + 1), filters_(filters), window_(fftLength), bands_(filters.rows),
      fft_(fftLength) {
  const double twoPi = 2.0 * std::numbers::pi;
  for (std::size_t n = 0; n < fftLength_; ++n) {
    window_[n] = static_cast<float>(
        0.5 - 0.5 * std::cos(twoPi * static_cast<double>(n) / static_cast<double>(fftLength_)));
  }
  for (std::size_t m = 0; m < filters_.rows; ++m) {
    const float *row = filters_.data + m * filters_.cols;
    const float *first = std::find_if(row, row + bins_, [](float w) { return w != 0.0f; });
    const float *last =
        std::find_if(std::make_reverse_iterator(row + bins_), std::make_reverse_iterator(first),
                     [](float w) { return w != 0.0f; })
            .base();
    bands_[m] = Band{static_cast<std::size_t>(first - row), static_cast<std::size_t>(last - row)};
  }
}

std::size_t LogMelPlan::tasks() const {
  return std::min(blocks(), parallelThreadCount() * kTasksPerThread);
}

std::size_t LogMelPlan::taskStride() const {
  return alignedCount(fft_.bufferFloats()) + bins_ * kBlockFrames;
}

std::size_t LogMelPlan::scratchSize() const {
  return kAlignedFloats + tasks() * taskStride() + tasks();
}

// Reflection without repeating the edge sample, as the usual centred transform pads.
float LogMelPlan::sample(const float *audio, std::ptrdiff_t index) const {
  std::ptrdiff_t i = index - static_cast<std::ptrdiff_t>(fftLength_ / 2);
  const auto last = static_cast<std::ptrdiff_t>(samples_) - 1;
  if (i < 0) {
    i = -i;
  } else if (i > last) {
    i = 2 * last - i;
  }
  i = std::clamp<std::ptrdiff_t>(i, 0, last);
  return audio[i];
}

void LogMelPlan::windowFrame(const float *audio, std::size_t t, float *buffer) const {
  const std::size_t start = t * hop_;
  const std::size_t half = fftLength_ / 2;
  if (start >= half && start - half + fftLength_ <= samples_) {
    const float *source = audio + (start - half);
    for (std::size_t j = 0; j < fftLength_; ++j) {
      buffer[j] = window_[j] * source[j];
    }
    return;
  }
  for (std::size_t j = 0; j < fftLength_; ++j) {
    buffer[j] = window_[j] * sample(audio, static_cast<std::ptrdiff_t>(start + j));
  }
}

float LogMelPlan::melBlock(const float *audio, std::size_t b, float *work, float *out) const {
  float *buffer = work;
  float *power = work + alignedCount(fft_.bufferFloats()); // [bins x kBlockFrames]
  const std::size_t first = b * kBlockFrames;
  const std::size_t count = std::min(kBlockFrames, frames_ - first);
  for (std::size_t j = 0; j < count; ++j) {
    windowFrame(audio, first + j, buffer);
    fft_.forwardInPlace(buffer);
    for (std::size_t k = 0; k < bins_; ++k) {
      power[k * kBlockFrames + j] =
          buffer[2 * k] * buffer[2 * k] + buffer[2 * k + 1] * buffer[2 * k + 1];
    }
  }
  // Lanes past the last frame are never written out; zeros keep them harmless.
  for (std::size_t k = 0; k < bins_; ++k) {
    std::fill(power + k * kBlockFrames + count, power + (k + 1) * kBlockFrames, 0.0f);
  }
  float maxima[kBlockFrames] = {};
  for (std::size_t m = 0; m < filters_.rows; ++m) {
    const float *weights = filters_.data + m * filters_.cols;
    float energy[kBlockFrames] = {};
    for (std::size_t k = bands_[m].begin; k < bands_[m].end; ++k) {
      for (std::size_t j = 0; j < kBlockFrames; ++j) {
        energy[j] += weights[k] * power[k * kBlockFrames + j];
      }
    }
    for (std::size_t j = 0; j < kBlockFrames; ++j) {
      energy[j] = std::max(energy[j], 1.0e-10f);
      maxima[j] = std::max(maxima[j], energy[j]);
    }
    std::copy(energy, energy + count, out + m * frames_ + first);
  }
  return *std::max_element(maxima, maxima + count);
}

void LogMelPlan::run(const float *audio, float *scratch, float *out) const {
  if (frames_ == 0) {
    return;
  }
  float *shares = alignedStart(scratch);
  const std::size_t taskCount = tasks();
  float *maxima = shares + taskCount * taskStride();
  parallelFor(0, taskCount, 1, [&](std::size_t firstTask, std::size_t endTask) {
    float *work = shares + firstTask * taskStride();
    for (std::size_t task = firstTask; task < endTask; ++task) {
      float maximum = 0.0f;
      for (std::size_t b = task * blocks() / taskCount; b < (task + 1) * blocks() / taskCount;
           ++b) {
        maximum = std::max(maximum, melBlock(audio, b, work, out));
      }
      maxima[task] = maximum;
    }
  });
  // The logarithm is monotonic, so the largest energy gives the largest value.
  const float floor = fastLog10(*std::max_element(maxima, maxima + taskCount)) - 8.0f;
  const std::size_t count = frames_ * filters_.rows;
  parallelFor(0, count, kScaleGrain, [&](std::size_t begin, std::size_t end) {
    for (; begin < end; begin += kScaleBlock) {
      float *block = out + begin;
      const std::size_t length = std::min(kScaleBlock, end - begin);
      log10InPlace(block, length);
      for (std::size_t i = 0; i < length; ++i) {
        block[i] = (std::max(block[i], floor) + 4.0f) / 4.0f;
      }
    }
  });
}

} // namespace platform::runner
