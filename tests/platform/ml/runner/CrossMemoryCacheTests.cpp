// The decoder's cross-attention memory: one per window in flight, however many windows decode at
// once, gone with the window's encoder output.

#include "platform/ml/runner/CrossMemoryCache.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace platform;
using namespace platform::runner;

struct NetworkFixture {
  mqtest::TempDir dir;
  TestModelOptions options;
  std::unique_ptr<TextDecoderNetwork> network;
  NetworkFixture() {
    options.dimensions = TestModelOptions::smallDimensions();
    options.dimensions.audioContext = 8;
    options.dimensions.vocabularySize = 100;
    const auto folder = writeTextDecoderModel(dir.path(), options);
    const SafeTensorsFile weights(folder / "weights.safetensors");
    network = std::make_unique<TextDecoderNetwork>(
        options.dimensions, std::vector<std::pair<std::size_t, std::size_t>>{}, weights);
  }
  MLMultiArray encoderOutput(float value) const {
    const auto &d = options.dimensions;
    return MLMultiArray({1, static_cast<int>(d.width), 1, static_cast<int>(d.audioContext)},
                        MLMultiArrayDataType::float16, value);
  }
};

TEST(CrossMemoryCache, SixteenWindowsSteppedInTurnEachKeepTheirMemory) {
  NetworkFixture f;
  CrossMemoryCache cache(*f.network);
  std::vector<float> scratch(f.options.dimensions.width * f.options.dimensions.audioContext);
  std::vector<MLMultiArray> windows;
  std::vector<const CrossMemoryCache::Memory *> first;
  for (int w = 0; w < 16; ++w) {
    windows.push_back(f.encoderOutput(0.01f * static_cast<float>(w + 1)));
    first.push_back(cache.memoryFor(windows.back(), scratch.data()).get());
  }
  for (int round = 0; round < 3; ++round) {
    for (std::size_t w = 0; w < windows.size(); ++w) {
      // The same entry, so its memory was not computed again.
      EXPECT_EQ(cache.memoryFor(windows[w], scratch.data()).get(), first[w]) << w;
    }
  }
  EXPECT_EQ(cache.size(), 16u);

  // Finished windows release their encoder output; their memory goes at the next lookup.
  windows.resize(1);
  cache.memoryFor(windows[0], scratch.data());
  EXPECT_EQ(cache.size(), 1u);
}

TEST(CrossMemoryCache, ARefilledBufferGetsAFreshMemoryInPlaceOfTheOld) {
  NetworkFixture f;
  CrossMemoryCache cache(*f.network);
  std::vector<float> scratch(f.options.dimensions.width * f.options.dimensions.audioContext);
  const MLMultiArray buffer = f.encoderOutput(0.5f);
  const auto before = cache.memoryFor(buffer, scratch.data());
  // Float16 weights: the memory is held as float16 too.
  ASSERT_TRUE(f.network->memoryIsHalf());
  EXPECT_TRUE(before->values.empty());
  const auto firstValues = before->halfValues;
  ASSERT_EQ(firstValues.size(), f.network->memorySize());
  auto *halves = buffer.data<Float16>();
  for (int i = 0; i < buffer.count(); ++i) {
    halves[i] = static_cast<Float16>(-0.25f);
  }
  buffer.markContentsChanged();
  const auto after = cache.memoryFor(buffer, scratch.data());
  EXPECT_NE(after.get(), before.get());
  EXPECT_NE(after->halfValues, firstValues);
  EXPECT_EQ(before->halfValues, firstValues); // a step still holding the old memory keeps it
  EXPECT_EQ(cache.size(), 1u);
}

// Window after window, the next window's memory takes a finished window's buffer and is computed
// afresh into it.
TEST(CrossMemoryCache, ANewWindowReusesAFinishedWindowsBufferWithItsOwnValues) {
  NetworkFixture f;
  std::vector<float> scratch(f.options.dimensions.width * f.options.dimensions.audioContext);
  // Float16 weights: the memory is float16.
  HugePageVector<std::uint16_t> expected(f.network->memorySize());
  {
    std::vector<float> widened(scratch.size(), 0.75f);
    f.network->computeMemory(widened.data(), expected.data());
  }

  CrossMemoryCache cache(*f.network);
  const std::uint16_t *finishedBuffer = nullptr;
  {
    const MLMultiArray finished = f.encoderOutput(0.25f);
    finishedBuffer = cache.memoryFor(finished, scratch.data())->halfValues.data();
  }
  ASSERT_NE(finishedBuffer, nullptr);
  const MLMultiArray next = f.encoderOutput(0.75f);
  const auto memory = cache.memoryFor(next, scratch.data());
  EXPECT_EQ(memory->halfValues.data(), finishedBuffer);
  EXPECT_EQ(memory->halfValues, expected);
  EXPECT_EQ(cache.size(), 1u);
}

// A finished window's memory that a step still holds is never handed to the next window.
TEST(CrossMemoryCache, AMemoryAStepStillHoldsIsNotHandedToTheNextWindow) {
  NetworkFixture f;
  std::vector<float> scratch(f.options.dimensions.width * f.options.dimensions.audioContext);
  CrossMemoryCache cache(*f.network);
  std::shared_ptr<const CrossMemoryCache::Memory> held;
  {
    const MLMultiArray finished = f.encoderOutput(0.25f);
    held = cache.memoryFor(finished, scratch.data());
  }
  const auto heldValues = held->halfValues;
  ASSERT_FALSE(heldValues.empty());
  const MLMultiArray next = f.encoderOutput(0.75f);
  const auto memory = cache.memoryFor(next, scratch.data());
  EXPECT_NE(memory->halfValues.data(), held->halfValues.data());
  EXPECT_EQ(held->halfValues, heldValues);
  EXPECT_EQ(cache.size(), 1u);
}

} // namespace
