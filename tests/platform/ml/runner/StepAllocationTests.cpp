// A decoder step reuses its workspace: once warm, the network allocates nothing per token.

#include "platform/ml/runner/models/TextDecoderNetwork.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
} // namespace

// Replaces the global allocator of this test program to count allocations made while counting.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) {
    allocations.fetch_add(1, std::memory_order_relaxed);
  }
  if (void *p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using namespace platform::runner;

TEST(TextDecoderNetwork, StepsAllocateNothingOnceWarm) {
  mqtest::TempDir dir;
  TestModelOptions options;
  options.dimensions.audioContext = 32;
  options.dimensions.vocabularySize = 4000;
  const auto folder = writeTextDecoderModel(dir.path(), options);
  const auto &d = options.dimensions;
  const SafeTensorsFile weights(folder / "weights.safetensors");
  const TextDecoderNetwork network(d, {{1, 0}, {1, 3}}, weights);

  std::vector<float> encoder(d.width * d.audioContext, 0.25f);
  std::vector<float> memory(network.memorySize());
  network.computeMemory(encoder.data(), memory.data());
  const std::size_t cacheWidth = d.decoderLayers * d.width;
  std::vector<std::uint16_t> keys(cacheWidth * d.cacheLength, 0x3c00);
  std::vector<std::uint16_t> values(cacheWidth * d.cacheLength, 0xbc00);
  std::vector<std::int32_t> update(d.cacheLength, 0);
  std::vector<float> padding(d.cacheLength, -10000.0f);
  std::vector<float> logits(d.vocabularySize), newKeys(cacheWidth), newValues(cacheWidth),
      alignment(d.audioContext);
  TextDecoderNetwork::Workspace workspace(d);
  const TextDecoderNetwork::StepOutput out{logits.data(), newKeys.data(), newValues.data(),
                                           alignment.data()};

  for (int position = 0; position < 40; ++position) {
    update.assign(d.cacheLength, 0);
    update[static_cast<std::size_t>(position)] = 1;
    padding[static_cast<std::size_t>(position)] = 0.0f;
    const TextDecoderNetwork::StepInput step{100 + position, position,      keys.data(),
                                             values.data(),  update.data(), padding.data(),
                                             memory.data()};
    // The first step warms the shared thread pool and the conversion table.
    counting = position > 0;
    network.step(step, workspace, out);
    counting = false;
  }
  EXPECT_EQ(allocations.load(), 0);
}

} // namespace
