#include "platform/ml/runner/layers/DecoderLayer.hpp"

#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/Gemm.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"
#include "platform/ml/runner/ops/Attention.hpp"
#include "platform/ml/runner/ops/RowOps.hpp"

#include <algorithm>

namespace platform::runner {

void computeCrossMemory(const CrossAttentionWeights &weights, const DecoderLayerShape &shape,
                        const float *encoderChannelMajor, float *keysTransposed,
                        float *valuesTransposed, float *weightScratch) {
  const std::size_t d = shape.width;
  const std::size_t t = shape.memoryLength;
  const float *kv = widenedMatrix(weights.kv, weightScratch);
  // [keys; values] = [Wk; Wv] * encoder, one product for both since they are stacked. The
  // runner's own product where it has one: the BLAS library's threads, left spinning after a
  // call, would take cores from the decoder steps that follow.
  const GemmB encoder{encoderChannelMajor, t};
  if (valuesTransposed != keysTransposed + d * t) {
    gemmProduct(d, t, d, 1.0f, kv, d, encoder, 0.0f, keysTransposed, t);
    gemmProduct(d, t, d, 1.0f, kv + d * d, d, encoder, 0.0f, valuesTransposed, t);
  } else {
    gemmProduct(2 * d, t, d, 1.0f, kv, d, encoder, 0.0f, keysTransposed, t);
  }
  if (weights.kvBias != nullptr) {
    for (std::size_t c = 0; c < 2 * d; ++c) {
      const float bias = weights.kvBias[c];
      if (bias != 0.0f) {
        float *row = c < d ? keysTransposed + c * t : valuesTransposed + (c - d) * t;
        std::for_each(row, row + t, [bias](float &v) { v += bias; });
      }
    }
  }
}

bool headsTogetherFor(std::size_t heads, std::size_t threads) {
  // With more than two heads a thread, its heads' short projection blocks read slower than the
  // long runs of a product shared out by rows, and the few threads lose little to the loops'
  // hand-offs (measured on the base shape: faster on eight threads, slower on two).
  return heads <= threads || (heads % threads == 0 && heads <= 2 * threads);
}

namespace {

// The cross-attention's query from scratch.normed and its attention over the memory, into
// scratch.attended.
void attendCrossMemory(const CrossAttentionWeights &weights, const DecoderLayerShape &shape,
                       const CrossMemoryView &memory, const DecoderLayerScratch &scratch,
                       float *crossWeights) {
  const std::size_t headDim = shape.width / shape.heads;
  const MemoryAttention crossShape{shape.heads, headDim, shape.memoryLength};
  if (memory.half != nullptr) {
    // Each head's query is made by the thread that first attends with it, inside the attention's
    // loop: a loop of its own cost a hand-off to the threads and back for a short product.
    auto makeQuery = [&](std::size_t head) {
      linearRows(scratch.normed, weights.q, weights.qBias, head * headDim, (head + 1) * headDim,
                 scratch.qkv);
    };
    const MemoryQuery query{[](void *context, std::size_t head) {
                              (*static_cast<decltype(makeQuery) *>(context))(head);
                            },
                            &makeQuery};
    attendHalfMemory(crossShape, scratch.qkv, memory.half,
                     {scratch.memoryPartials, scratch.headsDone}, crossWeights, scratch.attended,
                     query);
  } else {
    linear(scratch.normed, 1, weights.q, weights.qBias, scratch.qkv);
    attendMemory(crossShape, scratch.qkv, memory.keysTransposed, memory.valuesTransposed,
                 crossWeights, scratch.attended);
  }
}

} // namespace

void decoderLayerStep(const DecoderLayerWeights &weights, const DecoderLayerShape &shape, float *x,
                      const DecoderCacheView &cache, const CrossMemoryView &memory,
                      const DecoderLayerScratch &scratch, float *newKey, float *newValue,
                      float *crossWeights) {
  const std::size_t d = shape.width;
  const std::size_t headDim = d / shape.heads;

  layerNorm(x, weights.selfAttentionNorm.gamma, weights.selfAttentionNorm.beta, kLayerNormEpsilon,
            scratch.normed, d);
  const CachedAttention cached{shape.heads, headDim, shape.cacheLength};
  const CachedAttentionScratch cachedScratch{scratch.runs, scratch.scores, scratch.partial};
  if (shape.headsTogether) {
    const CachedAttentionPlan plan =
        planCachedAttention(cached, cache.updateMask, cache.paddingMask, scratch.runs);
    for (std::size_t h = 0; h < shape.heads; ++h) {
      scratch.headsDone[h].store(0, std::memory_order_relaxed);
    }
    // A task is a head's query, key or value rows, in that order; the thread that finishes a
    // head's third runs its attention. Three tasks a head let a thread that streams faster take
    // a slower one's last rows (measured: a step 1% faster than whole heads a task).
    parallelFor(0, 3 * shape.heads, 1, [&](std::size_t begin, std::size_t end) {
      for (std::size_t task = begin; task < end; ++task) {
        const std::size_t h = task / 3, part = task % 3;
        const std::size_t first = h * headDim, last = first + headDim;
        linearRows(scratch.normed, weights.selfAttention.qkv, weights.selfAttention.qkvBias,
                   part * d + first, part * d + last, scratch.qkv);
        if (scratch.headsDone[h].fetch_add(1, std::memory_order_acq_rel) + 1 != 3) {
          continue;
        }
        std::copy(scratch.qkv + d + first, scratch.qkv + d + last, newKey + first);
        std::copy(scratch.qkv + 2 * d + first, scratch.qkv + 2 * d + last, newValue + first);
        attendHalfCacheHead(cached, plan, h, scratch.qkv, newKey, newValue, cache.keys,
                            cache.values, cache.updateMask, cache.paddingMask, cachedScratch,
                            scratch.attended);
      }
    });
  } else {
    linear(scratch.normed, 1, weights.selfAttention.qkv, weights.selfAttention.qkvBias,
           scratch.qkv);
    std::copy(scratch.qkv + d, scratch.qkv + 2 * d, newKey);
    std::copy(scratch.qkv + 2 * d, scratch.qkv + 3 * d, newValue);
    attendHalfCache(cached, scratch.qkv, newKey, newValue, cache.keys, cache.values,
                    cache.updateMask, cache.paddingMask, cachedScratch, scratch.attended);
  }
  linear(scratch.attended, 1, weights.selfAttention.out, weights.selfAttention.outBias,
         scratch.projected);
  addInPlace(x, scratch.projected, d);

  layerNorm(x, weights.crossAttentionNorm.gamma, weights.crossAttentionNorm.beta, kLayerNormEpsilon,
            scratch.normed, d);
  attendCrossMemory(weights.crossAttention, shape, memory, scratch, crossWeights);
  linear(scratch.attended, 1, weights.crossAttention.out, weights.crossAttention.outBias,
         scratch.projected);
  addInPlace(x, scratch.projected, d);

  layerNorm(x, weights.mlpNorm.gamma, weights.mlpNorm.beta, kLayerNormEpsilon, scratch.normed, d);
  linearGelu(scratch.normed, 1, weights.mlp.fc1, weights.mlp.fc1Bias, scratch.ffn);
  linear(scratch.ffn, 1, weights.mlp.fc2, weights.mlp.fc2Bias, scratch.projected);
  addInPlace(x, scratch.projected, d);
}

} // namespace platform::runner
