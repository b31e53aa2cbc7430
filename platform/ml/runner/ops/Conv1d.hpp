#pragma once

#include "platform/ml/runner/ops/Linear.hpp"

#include <cstddef>

namespace platform::runner {

// Shape of a one-dimensional convolution over a signal of `inChannels` x `inLength`.
struct Conv1dShape {
  std::size_t inChannels = 0;
  std::size_t inLength = 0;
  std::size_t kernel = 3;  // taps per channel
  std::size_t stride = 1;  // input steps per output step
  std::size_t padding = 1; // zeros added at each end
  std::size_t outLength() const { return (inLength + 2 * padding - kernel) / stride + 1; }
};

// Input element (channel c, time t) is read at input[c * channelStride + t * timeStride], so both
// channel-major and time-major signals are accepted without a copy.
struct SignalView {
  const float *data = nullptr;
  std::size_t channelStride = 0;
  std::size_t timeStride = 0;
};

// out[outLength x weight.rows] (time-major) = conv(input) with weight [outChannels x
// inChannels * kernel] (the usual [out, in, kernel] layout flattened) plus bias.
// `columns` is caller-owned scratch of outLength * inChannels * kernel floats; float16 weights are
// widened into `weightScratch` (weight.widenedSize() floats). With `gelu` the result is the
// exact GELU of the convolution, applied inside the product.
void conv1d(SignalView input, const Conv1dShape &shape, MatrixView weight, const float *bias,
            float *columns, float *out, float *weightScratch = nullptr, bool gelu = false);

} // namespace platform::runner
