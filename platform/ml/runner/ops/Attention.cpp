#include "platform/ml/runner/ops/Attention.hpp"

#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

#include <cmath>

namespace platform::runner {
namespace {
constexpr float kAttendedMaskFloor = -1000.0f;
}

void attendSequence(const SequenceAttention &shape, const float *q, const float *k, const float *v,
                    std::size_t stride, float *scores, float *rowScales, float *out,
                    std::size_t outStride) {
  const float scale = 1.0f / std::sqrt(static_cast<float>(shape.headDim));
  for (std::size_t h = 0; h < shape.heads; ++h) {
    const std::size_t offset = h * shape.headDim;
    gemm(false, true, shape.queries, shape.keys, shape.headDim, scale, q + offset, stride,
         k + offset, stride, 0.0f, scores, shape.keys);
    // The softmax division is applied to the head's output rows (headDim values) rather than to
    // the score rows (keys values): the same result for a fraction of the passes.
    parallelFor(0, shape.queries, 8, [&](std::size_t begin, std::size_t end) {
      for (std::size_t r = begin; r < end; ++r) {
        rowScales[r] = 1.0f / expShiftedInPlace(scores + r * shape.keys, shape.keys);
      }
    });
    gemm(false, false, shape.queries, shape.headDim, shape.keys, 1.0f, scores, shape.keys,
         v + offset, stride, 0.0f, out + offset, outStride);
    parallelFor(0, shape.queries, 64, [&](std::size_t begin, std::size_t end) {
      for (std::size_t r = begin; r < end; ++r) {
        float *row = out + r * outStride + offset;
        for (std::size_t c = 0; c < shape.headDim; ++c) {
          row[c] *= rowScales[r];
        }
      }
    });
  }
}

void attendHalfCache(const CachedAttention &shape, const float *q, const float *newKey,
                     const float *newValue, const std::uint16_t *keyCache,
                     const std::uint16_t *valueCache, const std::int32_t *updateMask,
                     const float *paddingMask, const CachedAttentionScratch &scratch, float *out) {
  const std::size_t length = shape.cacheLength;
  std::size_t count = 0;
  for (std::size_t s = 0; s < length; ++s) {
    if (paddingMask[s] > kAttendedMaskFloor) {
      scratch.positions[count++] = s;
    }
  }
  if (count == 0) {
    for (std::size_t s = 0; s < length; ++s) {
      scratch.positions[count++] = s;
    }
  }
  const float scale = 1.0f / std::sqrt(static_cast<float>(shape.headDim));
  const float *table = halfToFloatTable();
  const std::size_t *positions = scratch.positions;
  parallelFor(0, shape.heads, 2, [&](std::size_t begin, std::size_t end) {
    for (std::size_t h = begin; h < end; ++h) {
      float *gathered = scratch.gathered + h * shape.headDim * length;
      float *scores = scratch.scores + h * length;
      for (std::size_t i = 0; i < count; ++i) {
        scores[i] = 0.0f;
      }
      // Keys: gather the head's channels (widened) and accumulate scores position-wise.
      for (std::size_t c = 0; c < shape.headDim; ++c) {
        const std::size_t channel = h * shape.headDim + c;
        const std::uint16_t *row = keyCache + channel * length;
        float *g = gathered + c * length;
        for (std::size_t i = 0; i < count; ++i) {
          const std::size_t s = positions[i];
          g[i] = updateMask[s] != 0 ? newKey[channel] : table[row[s]];
        }
        axpy(q[channel], g, scores, count);
      }
      for (std::size_t i = 0; i < count; ++i) {
        scores[i] = scores[i] * scale + paddingMask[positions[i]];
      }
      softmaxInPlace(scores, count);
      for (std::size_t c = 0; c < shape.headDim; ++c) {
        const std::size_t channel = h * shape.headDim + c;
        const std::uint16_t *row = valueCache + channel * length;
        float *g = gathered + c * length;
        for (std::size_t i = 0; i < count; ++i) {
          const std::size_t s = positions[i];
          g[i] = updateMask[s] != 0 ? newValue[channel] : table[row[s]];
        }
        out[channel] = dot(scores, g, count);
      }
    }
  });
}

void attendMemory(const MemoryAttention &shape, const float *q, const float *keysTransposed,
                  const float *valuesTransposed, float *probabilities, float *out) {
  const float scale = 1.0f / std::sqrt(static_cast<float>(shape.headDim));
  parallelFor(0, shape.heads, 1, [&](std::size_t begin, std::size_t end) {
    for (std::size_t h = begin; h < end; ++h) {
      float *scores = probabilities + h * shape.length;
      for (std::size_t t = 0; t < shape.length; ++t) {
        scores[t] = 0.0f;
      }
      for (std::size_t c = 0; c < shape.headDim; ++c) {
        const std::size_t channel = h * shape.headDim + c;
        axpy(q[channel] * scale, keysTransposed + channel * shape.length, scores, shape.length);
      }
      softmaxInPlace(scores, shape.length);
    }
  });
  // Channels are many and independent: a finer split than per head keeps every thread streaming.
  parallelFor(0, shape.heads * shape.headDim, 16, [&](std::size_t begin, std::size_t end) {
    for (std::size_t channel = begin; channel < end; ++channel) {
      const float *weights = probabilities + (channel / shape.headDim) * shape.length;
      out[channel] = dot(weights, valuesTransposed + channel * shape.length, shape.length);
    }
  });
}

} // namespace platform::runner
