#include "platform/ml/runner/ops/Attention.hpp"

#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/Gemm.hpp"
#include "platform/ml/runner/kernels/HalfKernels.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
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

// Asks for every cache line of the runs [runs[2i], runs[2i+1]) of `rows` rows, `stride` elements
// apart. A head's cache rows are short runs far apart, one per channel, which the hardware
// prefetchers do not follow: asked for up front, the fetches of its keys and values overlap
// instead of the values waiting for the softmax that the keys feed.
void prefetchRuns(const std::uint16_t *rows, std::size_t count, std::size_t stride,
                  const std::size_t *runs, std::size_t runCount) {
  constexpr std::uintptr_t kLine = 64;
  for (std::size_t c = 0; c < count; ++c) {
    for (std::size_t r = 0; r < runCount; ++r) {
      const auto first = reinterpret_cast<std::uintptr_t>(rows + c * stride + runs[2 * r]);
      const auto last = reinterpret_cast<std::uintptr_t>(rows + c * stride + runs[2 * r + 1]);
      for (std::uintptr_t line = first & ~(kLine - 1); line < last; line += kLine) {
        __builtin_prefetch(reinterpret_cast<const void *>(line));
      }
    }
  }
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

CachedAttentionPlan planCachedAttention(const CachedAttention &shape,
                                        const std::int32_t *updateMask, const float *paddingMask,
                                        std::size_t *runs) {
  const std::size_t length = shape.cacheLength;
  CachedAttentionPlan plan;
  plan.runs = runs;
  for (std::size_t s = 0; s < length && !plan.anyAttended; ++s) {
    plan.anyAttended = paddingMask[s] > kAttendedMaskFloor;
  }
  auto attended = [&](std::size_t s) {
    return !plan.anyAttended || paddingMask[s] > kAttendedMaskFloor;
  };
  // Scores span the first to the last attended position. Within it, the runs of positions read
  // from the cache (attended and not updated) stream a channel row at a time; runs are
  // [begin, end) pairs, apart by at least one position, so at most (cacheLength + 1) / 2.
  std::size_t first = length, last = 0;
  for (std::size_t s = 0; s < length; ++s) {
    if (attended(s)) {
      first = std::min(first, s);
      last = s;
    }
  }
  plan.first = first;
  plan.last = last;
  for (std::size_t s = first; s <= last && s < length;) {
    if (!attended(s) || updateMask[s] != 0) {
      ++s;
      continue;
    }
    const std::size_t begin = s;
    while (s <= last && attended(s) && updateMask[s] == 0) {
      ++s;
    }
    runs[2 * plan.runCount] = begin;
    runs[2 * plan.runCount + 1] = s;
    ++plan.runCount;
  }
  return plan;
}

void attendHalfCacheHead(const CachedAttention &shape, const CachedAttentionPlan &plan,
                         std::size_t head, const float *q, const float *newKey,
                         const float *newValue, const std::uint16_t *keyCache,
                         const std::uint16_t *valueCache, const std::int32_t *updateMask,
                         const float *paddingMask, const CachedAttentionScratch &scratch,
                         float *out) {
  const std::size_t length = shape.cacheLength;
  const std::size_t base = head * shape.headDim;
  float *result = out + base;
  if (length == 0) {
    std::fill(result, result + shape.headDim, 0.0f);
    return;
  }
  auto attended = [&](std::size_t s) {
    return !plan.anyAttended || paddingMask[s] > kAttendedMaskFloor;
  };
  const std::size_t first = plan.first;
  const std::size_t span = plan.last - first + 1;
  const std::size_t *runs = plan.runs;
  const float scale = 1.0f / std::sqrt(static_cast<float>(shape.headDim));
  float *scores = scratch.scores + head * length; // scores[j] belongs to position first + j
  float *partial = scratch.partial + base;
  const float *query = q + base;
  prefetchRuns(keyCache + base * length, shape.headDim, length, runs, plan.runCount);
  prefetchRuns(valueCache + base * length, shape.headDim, length, runs, plan.runCount);
  for (std::size_t r = 0; r < plan.runCount; ++r) {
    const std::size_t runBegin = runs[2 * r], runEnd = runs[2 * r + 1];
    halfDotColumns(keyCache + base * length + runBegin, shape.headDim, runEnd - runBegin, length,
                   query, scores + (runBegin - first));
  }
  const float newScore = dot(query, newKey + base, shape.headDim);
  for (std::size_t j = 0; j < span; ++j) {
    const std::size_t s = first + j;
    if (!attended(s)) {
      scores[j] = -INFINITY; // an exact zero weight after the softmax
    } else {
      scores[j] = (updateMask[s] != 0 ? newScore : scores[j]) * scale + paddingMask[s];
    }
  }
  softmaxInPlace(scores, span);
  std::fill(result, result + shape.headDim, 0.0f);
  float newWeight = 0.0f;
  for (std::size_t j = 0; j < span; ++j) {
    if (updateMask[first + j] != 0 && attended(first + j)) {
      newWeight += scores[j];
    }
  }
  for (std::size_t r = 0; r < plan.runCount; ++r) {
    const std::size_t runBegin = runs[2 * r], runEnd = runs[2 * r + 1];
    halfDotRows(valueCache + base * length + runBegin, shape.headDim, runEnd - runBegin, length,
                scores + (runBegin - first), partial);
    addInPlace(result, partial, shape.headDim);
  }
  axpy(newWeight, newValue + base, result, shape.headDim);
}

void attendHalfCache(const CachedAttention &shape, const float *q, const float *newKey,
                     const float *newValue, const std::uint16_t *keyCache,
                     const std::uint16_t *valueCache, const std::int32_t *updateMask,
                     const float *paddingMask, const CachedAttentionScratch &scratch, float *out) {
  const CachedAttentionPlan plan =
      planCachedAttention(shape, updateMask, paddingMask, scratch.runs);
  parallelFor(0, shape.heads, 1, [&](std::size_t begin, std::size_t end) {
    for (std::size_t h = begin; h < end; ++h) {
      attendHalfCacheHead(shape, plan, h, q, newKey, newValue, keyCache, valueCache, updateMask,
                          paddingMask, scratch, out);
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

namespace {

// Where a block of positions of a head starts in a packed memory, and how many positions it has.
struct MemoryBlock {
  std::size_t offset = 0;
  std::size_t first = 0;
  std::size_t count = 0;
};

MemoryBlock memoryBlock(const MemoryAttention &shape, std::size_t head, std::size_t block) {
  MemoryBlock b;
  b.first = block * kMemoryBlockLength;
  b.count = std::min(kMemoryBlockLength, shape.length - b.first);
  b.offset = 2 * shape.headDim * (head * shape.length + b.first);
  return b;
}

std::size_t memoryBlocks(const MemoryAttention &shape) {
  return (shape.length + kMemoryBlockLength - 1) / kMemoryBlockLength;
}

// A head's counter in MemoryAttentionScratch::blocksDone: its finished blocks in the low bits,
// and above them whether a thread has taken on making the head's query and whether it is made.
constexpr std::uint32_t kBlockCountMask = 0xffff;
constexpr std::uint32_t kQueryTaken = 1u << 16;
constexpr std::uint32_t kQueryMade = 1u << 17;

// Makes the head's query on this thread unless another has taken it on; then waits until it is
// made. Whoever took it is running it, so the wait is for microseconds.
void awaitQuery(const MemoryQuery &query, std::atomic<std::uint32_t> &state, std::size_t head) {
  if ((state.load(std::memory_order_acquire) & kQueryMade) != 0) {
    return;
  }
  if ((state.fetch_or(kQueryTaken, std::memory_order_acq_rel) & kQueryTaken) == 0) {
    query.make(query.context, head);
    state.fetch_or(kQueryMade, std::memory_order_release);
    return;
  }
  for (unsigned spin = 0; (state.load(std::memory_order_acquire) & kQueryMade) == 0; ++spin) {
    if (spin < 4096) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    } else {
      std::this_thread::yield(); // its maker may be waiting for this core
    }
  }
}

} // namespace

void packHalfMemory(const MemoryAttention &shape, const float *keysTransposed,
                    const float *valuesTransposed, std::uint16_t *packed) {
  const std::size_t blocks = memoryBlocks(shape);
  parallelFor(0, shape.heads * blocks, 1, [&](std::size_t begin, std::size_t end) {
    for (std::size_t task = begin; task < end; ++task) {
      const std::size_t head = task / blocks;
      const MemoryBlock b = memoryBlock(shape, head, task % blocks);
      std::uint16_t *keys = packed + b.offset;
      std::uint16_t *values = keys + shape.headDim * b.count;
      for (std::size_t c = 0; c < shape.headDim; ++c) {
        const std::size_t row = (head * shape.headDim + c) * shape.length + b.first;
        narrowToHalf(keysTransposed + row, keys + c * b.count, b.count);
        narrowToHalf(valuesTransposed + row, values + c * b.count, b.count);
      }
    }
  });
}

std::size_t memoryAttentionScratchSize(const MemoryAttention &shape) {
  return shape.heads * memoryBlocks(shape) * (shape.headDim + 2);
}

void attendHalfMemory(const MemoryAttention &shape, const float *q, const std::uint16_t *packed,
                      const MemoryAttentionScratch &scratch, float *probabilities, float *out,
                      const MemoryQuery &query) {
  const std::size_t length = shape.length;
  const std::size_t headDim = shape.headDim;
  if (length == 0) {
    std::fill(out, out + shape.heads * headDim, 0.0f);
    return;
  }
  const std::size_t blocks = memoryBlocks(shape);
  const float scale = 1.0f / std::sqrt(static_cast<float>(headDim));
  // Per block: the maximum of its scores, the sum of exp(score - maximum) over it, and its
  // values weighted by those exponentials.
  const std::size_t partialSize = headDim + 2;
  for (std::size_t h = 0; h < shape.heads; ++h) {
    scratch.blocksDone[h].store(0, std::memory_order_relaxed);
  }
  // The head's softmax over all its blocks, once the last of them is in: each block's share
  // weighed by exp(its maximum - the head's).
  auto combine = [&](std::size_t head) {
    float *partials = scratch.partials + head * blocks * partialSize;
    float max = -INFINITY;
    for (std::size_t b = 0; b < blocks; ++b) {
      max = std::max(max, partials[b * partialSize]);
    }
    float total = 0.0f;
    for (std::size_t b = 0; b < blocks; ++b) {
      float *partial = partials + b * partialSize;
      partial[0] = fastExp(partial[0] - max); // from here on the block's factor
      total += partial[0] * partial[1];
    }
    float *result = out + head * headDim;
    std::fill(result, result + headDim, 0.0f);
    float *weights = probabilities + head * length;
    for (std::size_t b = 0; b < blocks; ++b) {
      const float factor = partials[b * partialSize] / total;
      axpy(factor, partials + b * partialSize + 2, result, headDim);
      const MemoryBlock block = memoryBlock(shape, head, b);
      for (std::size_t t = block.first; t < block.first + block.count; ++t) {
        weights[t] *= factor;
      }
    }
  };
  parallelFor(0, shape.heads * blocks, 1, [&](std::size_t begin, std::size_t end) {
    for (std::size_t task = begin; task < end; ++task) {
      const std::size_t head = task / blocks;
      const MemoryBlock block = memoryBlock(shape, head, task % blocks);
      if (query.make != nullptr) {
        awaitQuery(query, scratch.blocksDone[head], head);
      }
      const std::uint16_t *keys = packed + block.offset;
      const std::uint16_t *values = keys + headDim * block.count;
      float *scores = probabilities + head * length + block.first;
      halfDotColumns(keys, headDim, block.count, block.count, q + head * headDim, scores);
      float max = -INFINITY;
      for (std::size_t t = 0; t < block.count; ++t) {
        scores[t] *= scale;
        max = std::max(max, scores[t]);
      }
      float *partial = scratch.partials + task * partialSize;
      partial[0] = max;
      partial[1] = expShiftedInPlace(scores, block.count);
      halfDotRows(values, headDim, block.count, block.count, scores, partial + 2);
      // The thread that finishes a head's last block sees every other block's results.
      if (((scratch.blocksDone[head].fetch_add(1, std::memory_order_acq_rel) + 1) &
           kBlockCountMask) == blocks) {
        combine(head);
      }
    }
  });
}

} // namespace platform::runner
