#include "platform/ml/runner/CrossMemoryCache.hpp"

#include "platform/ml/runner/FeatureArrays.hpp"

#include <algorithm>
#include <utility>

namespace platform::runner {

CrossMemoryCache::CrossMemoryCache(const TextDecoderNetwork &network) : network_(network) {}

std::size_t CrossMemoryCache::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void CrossMemoryCache::recycle(std::shared_ptr<Memory> &entry) {
  // Copies are only made under mutex_, so a count of one cannot rise while it is read.
  if (entry.use_count() != 1) {
    return;
  }
  if (spare_.empty() && entry->values.size() == network_.memorySize()) {
    spare_ = std::exchange(entry->values, {});
  }
  if (spareHalf_.empty() && entry->halfValues.size() == network_.memorySize()) {
    spareHalf_ = std::exchange(entry->halfValues, {});
  }
}

std::shared_ptr<CrossMemoryCache::Memory>
CrossMemoryCache::freshEntry(const MLMultiArray &encoderOutput) {
  auto entry = std::make_shared<Memory>();
  entry->values = std::exchange(spare_, {});
  entry->halfValues = std::exchange(spareHalf_, {});
  entry->storage = encoderOutput.storage();
  entry->address = encoderOutput.dataPointer();
  entry->type = encoderOutput.dataType();
  entry->stamp = encoderOutput.contentStamp();
  return entry;
}

std::shared_ptr<const CrossMemoryCache::Memory>
CrossMemoryCache::memoryFor(const MLMultiArray &encoderOutput, float *widened) {
  const std::shared_ptr<void> &storage = encoderOutput.storage();
  auto sameArray = [&](const Memory &entry) {
    return !entry.storage.owner_before(storage) && !storage.owner_before(entry.storage) &&
           entry.address == encoderOutput.dataPointer() && entry.type == encoderOutput.dataType();
  };
  std::shared_ptr<Memory> entry;
  {
    std::lock_guard lock(mutex_);
    // Windows whose encoder output is gone are done: their memory goes too.
    std::erase_if(entries_, [this](auto &candidate) {
      if (!candidate->storage.expired()) {
        return false;
      }
      recycle(candidate);
      return true;
    });
    for (auto &candidate : entries_) {
      if (sameArray(*candidate)) {
        if (candidate->stamp != encoderOutput.contentStamp()) {
          // The buffer was refilled with another window's output.
          recycle(candidate);
          candidate = freshEntry(encoderOutput);
        }
        entry = candidate;
        break;
      }
    }
    if (!entry) {
      entry = freshEntry(encoderOutput);
      entries_.push_back(entry);
    }
  }
  std::call_once(entry->computed, [&] {
    copyToFloats(encoderOutput, widened);
    if (network_.memoryIsHalf()) {
      entry->halfValues.resize(network_.memorySize());
      network_.computeMemory(widened, entry->halfValues.data());
    } else {
      entry->values.resize(network_.memorySize());
      network_.computeMemory(widened, entry->values.data());
    }
  });
  return entry;
}

} // namespace platform::runner
