#include "platform/ml/runner/CrossMemoryCache.hpp"

#include "platform/ml/runner/FeatureArrays.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace platform::runner {

namespace {

std::uint64_t blockDigest(const void *data, std::size_t bytes) {
  constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15ull;
  // Eight independent lanes: each step of a lane waits on its multiply, so fewer lanes leave the
  // core idle between them (every decoder step digests its window's encoder output).
  constexpr int kLanes = 8;
  const auto *p = static_cast<const unsigned char *>(data);
  std::uint64_t lanes[kLanes] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::size_t i = 0;
  for (; i + 8 * kLanes <= bytes; i += 8 * kLanes) {
    for (int lane = 0; lane < kLanes; ++lane) {
      std::uint64_t word;
      std::memcpy(&word, p + i + 8 * lane, 8);
      lanes[lane] = (lanes[lane] ^ word) * kMultiplier;
      lanes[lane] ^= lanes[lane] >> 29;
    }
  }
  std::uint64_t digest = bytes;
  for (; i < bytes; ++i) {
    digest = (digest ^ p[i]) * kMultiplier;
  }
  for (auto lane : lanes) {
    digest = (digest ^ lane) * kMultiplier;
    digest ^= digest >> 32;
  }
  return digest;
}

} // namespace

std::uint64_t contentDigest(const void *data, std::size_t bytes) {
  // Every step of a window digests its encoder output (megabytes), so the blocks are digested on
  // the parallelFor threads and their digests folded in order. Block edges depend only on the
  // size, so a digest never depends on the thread count; at most kBlocks blocks, held on the
  // stack.
  constexpr std::size_t kBlocks = 64;
  constexpr std::size_t kMinimumBlock = 64 * 1024;
  const std::size_t block =
      std::max(kMinimumBlock, ((bytes + kBlocks - 1) / kBlocks + 63) / 64 * 64);
  const std::size_t blocks = std::max<std::size_t>(1, (bytes + block - 1) / block);
  if (blocks == 1) {
    return blockDigest(data, bytes);
  }
  std::array<std::uint64_t, kBlocks> digests{};
  const auto *p = static_cast<const unsigned char *>(data);
  parallelFor(0, blocks, 1, [&](std::size_t begin, std::size_t end) {
    for (std::size_t b = begin; b < end; ++b) {
      digests[b] = blockDigest(p + b * block, std::min(block, bytes - b * block));
    }
  });
  return blockDigest(digests.data(), blocks * sizeof(std::uint64_t));
}

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

std::shared_ptr<const CrossMemoryCache::Memory>
CrossMemoryCache::memoryFor(const MLMultiArray &encoderOutput, float *widened) {
  const auto count = static_cast<std::size_t>(encoderOutput.count());
  bool isWidened = false;
  std::uint64_t digest;
  if (encoderOutput.isContiguous()) {
    digest =
        contentDigest(encoderOutput.dataPointer(), count * elementSize(encoderOutput.dataType()));
  } else {
    copyToFloats(encoderOutput, widened);
    isWidened = true;
    digest = contentDigest(widened, count * sizeof(float));
  }

  const std::shared_ptr<void> &storage = encoderOutput.storage();
  auto sameStorage = [&](const Memory &entry) {
    return !entry.storage.owner_before(storage) && !storage.owner_before(entry.storage);
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
      if (sameStorage(*candidate) && candidate->address == encoderOutput.dataPointer() &&
          candidate->type == encoderOutput.dataType()) {
        if (candidate->digest != digest) {
          // The buffer was refilled with another window's output.
          recycle(candidate);
          candidate = std::make_shared<Memory>();
          candidate->values = std::exchange(spare_, {});
          candidate->halfValues = std::exchange(spareHalf_, {});
          candidate->storage = storage;
          candidate->address = encoderOutput.dataPointer();
          candidate->type = encoderOutput.dataType();
          candidate->digest = digest;
        }
        entry = candidate;
        break;
      }
    }
    if (!entry) {
      entry = std::make_shared<Memory>();
      entry->values = std::exchange(spare_, {});
      entry->halfValues = std::exchange(spareHalf_, {});
      entry->storage = storage;
      entry->address = encoderOutput.dataPointer();
      entry->type = encoderOutput.dataType();
      entry->digest = digest;
      entries_.push_back(entry);
    }
  }
  std::call_once(entry->computed, [&] {
    if (!isWidened) {
      copyToFloats(encoderOutput, widened);
    }
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
