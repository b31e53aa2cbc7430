#pragma once

#include "platform/ml/runner/layers/LayerWeights.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace platform::runner {

struct DecoderLayerShape {
  std::size_t width = 0; // model dimension D
  std::size_t heads = 0;
  std::size_t ffnWidth = 0;
  std::size_t cacheLength = 0;  // S, positions of the key/value cache
  std::size_t memoryLength = 0; // T, positions of the encoder output
  // The self-attention heads' query, key and value projections and their attention run in one
  // parallel loop, instead of a product and an attention loop apart. Pays when the heads share
  // out evenly over many threads (see headsTogetherFor).
  bool headsTogether = false;
};

// Whether `heads` heads share out over `threads` threads well enough for headsTogether.
bool headsTogetherFor(std::size_t heads, std::size_t threads);

// Caller-owned scratch of one decoder step, reused across steps and layers.
struct DecoderLayerScratch {
  float *normed = nullptr;         // width
  float *qkv = nullptr;            // 3 * width
  float *attended = nullptr;       // width
  float *projected = nullptr;      // width
  float *ffn = nullptr;            // ffnWidth
  std::size_t *runs = nullptr;     // cacheLength + 1
  float *partial = nullptr;        // width
  float *scores = nullptr;         // heads * cacheLength
  float *memoryPartials = nullptr; // memoryAttentionScratchSize floats
  // A counter per head, for loops whose heads are completed by the thread that finishes their
  // last task.
  std::atomic<std::uint32_t> *headsDone = nullptr;
};

// The layer's view of the float16 self-attention cache (channel-major, already offset to the
// layer's first channel) and its masks, all cacheLength long.
struct DecoderCacheView {
  const std::uint16_t *keys = nullptr;
  const std::uint16_t *values = nullptr;
  const std::int32_t *updateMask = nullptr;
  const float *paddingMask = nullptr;
};

// The layer's cross-attention keys and values, computed once per encoder output: float32, both
// [width x memoryLength] (channel-major), or float16 bits packed by packHalfMemory when `half` is
// set.
struct CrossMemoryView {
  const float *keysTransposed = nullptr;
  const float *valuesTransposed = nullptr;
  const std::uint16_t *half = nullptr;
};

// Computes a layer's cross-attention memory from the encoder output given channel-major
// ([width x memoryLength]). Float16 key and value weights are widened into `weightScratch`
// (weights.kv.widenedSize() floats; unused for float32). Calls BLAS: not from inside parallelFor.
void computeCrossMemory(const CrossAttentionWeights &weights, const DecoderLayerShape &shape,
                        const float *encoderChannelMajor, float *keysTransposed,
                        float *valuesTransposed, float *weightScratch);

// One pre-norm decoder block for one position, in place on x[width]. Writes this position's
// self-attention key and value (width each) and the cross-attention weights of every head
// ([heads x memoryLength]). Calls BLAS: not from inside parallelFor. Never allocates.
void decoderLayerStep(const DecoderLayerWeights &weights, const DecoderLayerShape &shape, float *x,
                      const DecoderCacheView &cache, const CrossMemoryView &memory,
                      const DecoderLayerScratch &scratch, float *newKey, float *newValue,
                      float *crossWeights);

} // namespace platform::runner
