#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace platform::runner {

// Multi-head scaled dot-product attention over whole sequences (no mask).
// q: n rows, k and v: m rows, each row holding heads * headDim values at `stride` apart.
// out: n rows of heads * headDim values at `outStride`. `scores` is caller scratch of
// sequenceAttentionScratchSize(shape) floats, `rowScales` of n floats. Not from inside
// parallelFor.
struct SequenceAttention {
  std::size_t queries = 0; // n
  std::size_t keys = 0;    // m
  std::size_t heads = 0;
  std::size_t headDim = 0;
};
// The scores of one head (n * m floats) for the BLAS path, or the keys and values of every head
// packed for the runner's own product, whichever is larger.
std::size_t sequenceAttentionScratchSize(const SequenceAttention &shape);
void attendSequence(const SequenceAttention &shape, const float *q, const float *k, const float *v,
                    std::size_t stride, float *scores, float *rowScales, float *out,
                    std::size_t outStride);

// One query position attending over a float16 key/value cache laid out channel-major:
// element (channel c, position s) at cache[c * cacheLength + s], the pointers already offset to
// the layer's first channel. The position whose update mask is non-zero reads the new key and
// value (this step's) instead of the cache. Positions whose padding mask is above -1000 take part
// with the mask value added to their score; if none does, every position takes part. Cache
// entries of positions that take no part, and of updated positions, are never read.
struct CachedAttention {
  std::size_t heads = 0;
  std::size_t headDim = 0;
  std::size_t cacheLength = 0; // S
};
struct CachedAttentionScratch {
  std::size_t *runs = nullptr; // cacheLength + 1 entries
  float *scores = nullptr;     // heads * cacheLength floats
  float *partial = nullptr;    // heads * headDim floats
};
void attendHalfCache(const CachedAttention &shape, const float *q, const float *newKey,
                     const float *newValue, const std::uint16_t *keyCache,
                     const std::uint16_t *valueCache, const std::int32_t *updateMask,
                     const float *paddingMask, const CachedAttentionScratch &scratch, float *out);

// The same one head at a time, for callers that give each thread whole heads: the positions to
// read are worked out once from the masks (into `runs`, cacheLength + 1 entries, which must stay
// untouched while heads use the plan), then attendHalfCacheHead runs one head on the calling
// thread, writing out[head * headDim ...]. Heads use disjoint parts of the scratch, so they may
// run at once.
struct CachedAttentionPlan {
  bool anyAttended = false; // if none is, every position takes part
  std::size_t first = 0;    // the first and last positions that take part
  std::size_t last = 0;
  const std::size_t *runs = nullptr; // [begin, end) runs of positions read from the cache
  std::size_t runCount = 0;
};
CachedAttentionPlan planCachedAttention(const CachedAttention &shape,
                                        const std::int32_t *updateMask, const float *paddingMask,
                                        std::size_t *runs);
void attendHalfCacheHead(const CachedAttention &shape, const CachedAttentionPlan &plan,
                         std::size_t head, const float *q, const float *newKey,
                         const float *newValue, const std::uint16_t *keyCache,
                         const std::uint16_t *valueCache, const std::int32_t *updateMask,
                         const float *paddingMask, const CachedAttentionScratch &scratch,
                         float *out);

// One query position attending over a fixed float32 memory held channel-major: keys and values
// are both [heads * headDim x length], so every head streams contiguous rows.
// `probabilities` receives the softmax weights of every head, [heads x length].
struct MemoryAttention {
  std::size_t heads = 0;
  std::size_t headDim = 0;
  std::size_t length = 0;
};
void attendMemory(const MemoryAttention &shape, const float *q, const float *keysTransposed,
                  const float *valuesTransposed, float *probabilities, float *out);
// The same over a float16 memory, half the bytes to stream, packed by packHalfMemory: each head's
// positions cut into blocks of kMemoryBlockLength (the last one shorter), each block holding its
// keys and then its values, both channel-major over the block's positions. Every block is one
// contiguous run of the memory and one task of the loop: the work shares out evenly however
// many heads and threads there are, where a thread given whole heads kept the others waiting.
// Each block's softmax is taken over the block, and the last block of a head to finish combines
// the head's blocks. Results do not depend on the thread count.
inline constexpr std::size_t kMemoryBlockLength = 128;
// keysTransposed, valuesTransposed: [heads * headDim x length] floats each; `packed` takes as
// many float16 elements as the two together. Runs on the parallelFor threads.
void packHalfMemory(const MemoryAttention &shape, const float *keysTransposed,
                    const float *valuesTransposed, std::uint16_t *packed);
struct MemoryAttentionScratch {
  float *partials = nullptr;                        // memoryAttentionScratchSize(shape) floats
  std::atomic<std::uint32_t> *blocksDone = nullptr; // one counter per head
};
std::size_t memoryAttentionScratchSize(const MemoryAttention &shape);
// A head's query rows of `q`, written when the attention first needs them, by the first of its
// threads to start a block of that head (the others of the head wait the microseconds it takes):
// the query's projection then runs inside the attention's loop instead of a loop of its own. Must
// not throw.
struct MemoryQuery {
  void (*make)(void *context, std::size_t head) = nullptr; // null: q is complete on entry
  void *context = nullptr;
};
void attendHalfMemory(const MemoryAttention &shape, const float *q, const std::uint16_t *packed,
                      const MemoryAttentionScratch &scratch, float *probabilities, float *out,
                      const MemoryQuery &query = {});

} // namespace platform::runner
