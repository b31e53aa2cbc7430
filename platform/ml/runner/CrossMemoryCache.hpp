#pragma once

#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/runner/models/TextDecoderNetwork.hpp"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::runner {

// The decoder's cross-attention keys and values depend only on the encoder output, so they are
// computed once per encoder-output array and reused by every step of its window. Entries are
// recognised by the array's storage address, element type and a digest of its contents, so a
// buffer that is refilled with another window's output (or freed and reallocated at the same
// address) is never served stale memory. The few most recently used entries are kept, which
// covers several windows decoding at once. Thread-safe: concurrent steps of one window compute
// the memory once and share it.
class CrossMemoryCache {
public:
  explicit CrossMemoryCache(const TextDecoderNetwork &network, std::size_t capacity = 4);

  struct Memory;
  // The memory of `encoderOutput` ([1, D, 1, positions], any float type). `widened` is caller
  // scratch of D * positions floats, used when the memory must be computed or the array is not
  // contiguous. Calls BLAS: not from inside parallelFor.
  std::shared_ptr<const Memory> memoryFor(const MLMultiArray &encoderOutput, float *widened);

  struct Memory {
    const void *address = nullptr;
    MLMultiArrayDataType type = MLMultiArrayDataType::float32;
    std::uint64_t digest = 0;
    std::once_flag computed;
    std::vector<float> values;
  };

private:
  const TextDecoderNetwork &network_;
  const std::size_t capacity_;
  std::mutex mutex_;
  std::list<std::shared_ptr<Memory>> entries_; // most recently used first
};

// A 64-bit digest of `bytes` bytes (not cryptographic; detects changed contents).
std::uint64_t contentDigest(const void *data, std::size_t bytes);

} // namespace platform::runner
