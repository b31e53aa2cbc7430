#include "platform/ml/runner/ops/Attention.hpp"

#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/Gemm.hpp"
#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace platform::runner {
namespace {
constexpr float kAttendedMaskFloor = -1000.0f;
}

namespace {

// Per-thread scratch of the panel attention, grown to the largest shape and then reused.
struct PanelScratch {
  std::vector<float> queries, scores, heads;
  float sums[kGemmPanelCols];
};
thread_local PanelScratch panelScratch;

float *sized(std::vector<float> &buffer, std::size_t count) {
  if (buffer.size() < count) {
    buffer.resize(count);
  }
  return buffer.data();
}

// Attention on the runner's packed product, one head and 32 queries at a time, each such task on
// one thread with everything it touches in that core's caches. Scores are computed transposed,
// keys down and queries across, straight into the layout of a packed B panel: the softmax then
// runs down its columns with every query in a vector lane, and the panel is the B operand of the
// value product without a copy. Keys and transposed values of every head are packed once into
// `packed` (the caller's scores scratch), as the A operands the tasks share.
void attendSequenceOnPanels(const SequenceAttention &shape, const float *q, const float *k,
                            const float *v, std::size_t stride, float *packed, float *out,
                            std::size_t outStride) {
  const std::size_t n = shape.queries;
  const std::size_t m = shape.keys;
  const std::size_t headDim = shape.headDim;
  const float scale = 1.0f / std::sqrt(static_cast<float>(headDim));
  const std::size_t keysSize = packedASize(m, headDim);
  const std::size_t valuesSize = packedASize(headDim, m);
  parallelFor(0, 2 * shape.heads, 1, [&](std::size_t begin, std::size_t end) {
    for (std::size_t job = begin; job < end; ++job) {
      const std::size_t h = job / 2;
      float *headPacked = packed + h * (keysSize + valuesSize);
      if (job % 2 == 0) {
        packA(k + h * headDim, stride, m, headDim, headPacked);
      } else {
        packA(v + h * headDim, stride, headDim, m, headPacked + keysSize, true);
      }
    }
  });
  const std::size_t panels = (n + kGemmPanelCols - 1) / kGemmPanelCols;
  const std::size_t tasks = shape.heads * panels;
  // One chunk per thread, each taking tasks until none is left.
  std::atomic<std::size_t> next{0};
  const std::size_t workers = std::min(parallelThreadCount(), tasks);
  parallelFor(0, workers, 1, [&](std::size_t, std::size_t) {
    PanelScratch &scratch = panelScratch;
    float *queries = sized(scratch.queries, headDim * kGemmPanelCols);
    float *scores = sized(scratch.scores, m * kGemmPanelCols);
    float *heads = sized(scratch.heads, headDim * kGemmPanelCols);
    for (std::size_t task = next.fetch_add(1, std::memory_order_relaxed); task < tasks;
         task = next.fetch_add(1, std::memory_order_relaxed)) {
      const std::size_t h = task / panels;
      const std::size_t first = (task % panels) * kGemmPanelCols;
      const float *keys = packed + h * (keysSize + valuesSize);
      const float *values = keys + keysSize;
      const std::size_t count = std::min(kGemmPanelCols, n - first);
      GemmB panelQueries;
      panelQueries.data = q + first * stride + h * headDim;
      panelQueries.ld = stride;
      panelQueries.transposed = true;
      packB(panelQueries, headDim, count, queries);
      if (count < kGemmPanelCols) {
        // Columns past the last query stay finite for the softmax.
        std::fill(scores, scores + m * kGemmPanelCols, 0.0f);
      }
      gemmPacked(m, count, headDim, scale, keys, queries, 0.0f, scores, kGemmPanelCols);
      expShiftedColumns(scores, m, scratch.sums);
      gemmPacked(headDim, count, m, 1.0f, values, scores, 0.0f, heads, kGemmPanelCols);
      for (std::size_t j = 0; j < count; ++j) {
        float *row = out + (first + j) * outStride + h * headDim;
        const float normalizer = 1.0f / scratch.sums[j];
        for (std::size_t c = 0; c < headDim; ++c) {
          row[c] = heads[c * kGemmPanelCols + j] * normalizer;
        }
      }
    }
  });
}

} // namespace

std::size_t sequenceAttentionScratchSize(const SequenceAttention &shape) {
  const std::size_t packed = shape.heads * (packedASize(shape.keys, shape.headDim) +
                                            packedASize(shape.headDim, shape.keys));
  return std::max(shape.queries * shape.keys, packed);
}

void attendSequence(const SequenceAttention &shape, const float *q, const float *k, const float *v,
                    std::size_t stride, float *scores, float *rowScales, float *out,
                    std::size_t outStride) {
  if (gemmPath() == GemmPath::avx512) {
    attendSequenceOnPanels(shape, q, k, v, stride, scores, out, outStride);
    return;
  }
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
