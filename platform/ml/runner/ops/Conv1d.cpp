#include "platform/ml/runner/ops/Conv1d.hpp"

#include "platform/ml/runner/kernels/Parallel.hpp"

namespace platform::runner {

void conv1d(SignalView input, const Conv1dShape &shape, MatrixView weight, const float *bias,
            float *columns, float *out, float *weightScratch, bool gelu) {
  const std::size_t outLength = shape.outLength();
  const std::size_t width = shape.inChannels * shape.kernel;
  parallelFor(0, outLength, 32, [&](std::size_t begin, std::size_t end) {
    for (std::size_t t = begin; t < end; ++t) {
      float *row = columns + t * width;
      for (std::size_t c = 0; c < shape.inChannels; ++c) {
        for (std::size_t j = 0; j < shape.kernel; ++j) {
          // Positions before the start wrap to huge values, so one comparison covers both ends.
          const std::size_t position = t * shape.stride + j - shape.padding;
          row[c * shape.kernel + j] =
              position < shape.inLength
                  ? input.data[c * input.channelStride + position * input.timeStride]
                  : 0.0f;
        }
      }
    }
  });
  if (gelu) {
    linearGelu(columns, outLength, weight, bias, out, weightScratch);
  } else {
    linear(columns, outLength, weight, bias, out, 0, 0, weightScratch);
  }
}

} // namespace platform::runner
