#pragma once

#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/runner/kernels/HugePageAllocator.hpp"
#include "platform/ml/runner/models/TextDecoderNetwork.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::runner {

// The decoder's cross-attention keys and values depend only on the encoder output, so they are
// computed once per encoder-output array and reused by every step of its window. An entry lives
// as long as the caller's array storage does (held weakly), so every window in flight keeps its
// memory however many windows are decoded at once, and a window's memory goes with its encoder
// output. Entries are recognised by the array's storage, address, element type and content stamp
// (MLMultiArray::contentStamp), so a lookup reads none of the encoder output: a buffer refilled
// with another window's output (and marked changed) gets a fresh memory, replacing the old one.
// Thread-safe: concurrent steps of one window compute the memory once and share it. A lookup
// that finds its entry allocates nothing. The buffer of one finished window's memory is kept for
// the next window's, so window after window neither allocates nor faults in fresh pages for it
// (tens of megabytes a window from the base size up); a memory still held by a step is never
// reused.
class CrossMemoryCache {
public:
  explicit CrossMemoryCache(const TextDecoderNetwork &network);

  struct Memory;
  // The memory of `encoderOutput` ([1, D, 1, positions], any float type). `widened` is caller
  // scratch of D * positions floats, used when the memory must be computed. Calls BLAS: not from
  // inside parallelFor.
  std::shared_ptr<const Memory> memoryFor(const MLMultiArray &encoderOutput, float *widened);

  // Entries whose arrays are still alive, as of the last lookup.
  std::size_t size() const;

  struct Memory {
    std::weak_ptr<void> storage;
    const void *address = nullptr;
    MLMultiArrayDataType type = MLMultiArrayDataType::float32;
    std::uint64_t stamp = 0;
    std::once_flag computed;
    // The network's memory in its preferred form (TextDecoderNetwork::memoryIsHalf): one of the
    // two is filled. Every step reads it whole: on huge pages.
    HugePageVector<float> values;
    HugePageVector<std::uint16_t> halfValues;
  };

private:
  // Takes the values of `entry` for reuse when nothing but the cache holds it and no buffer is
  // kept yet. Under mutex_.
  void recycle(std::shared_ptr<Memory> &entry);
  // A new entry for `encoderOutput`, holding the kept buffers if any. Under mutex_.
  std::shared_ptr<Memory> freshEntry(const MLMultiArray &encoderOutput);

  const TextDecoderNetwork &network_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Memory>> entries_;
  HugePageVector<float> spare_;             // a finished window's values, or empty
  HugePageVector<std::uint16_t> spareHalf_; // the same for a float16 memory
};

} // namespace platform::runner
