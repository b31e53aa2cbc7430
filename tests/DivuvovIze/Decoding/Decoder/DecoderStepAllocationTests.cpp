// A warm decoder step allocates nothing: the same thread predicting on the same window arrays
// writes into the arrays the decoder keeps and hands back handles to them.

#include <gtest/gtest.h>

#include "DivuvovIze/Decoding/Decoder/TextDecoder.hpp"
#include "platform/ml/Float16.hpp"
#include "tests/DivuvovIze/Decoding/SpeechTokenizerFixture.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/allocation-counter/AllocationCounter.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

namespace divuvovize {
namespace {

using platform::MLMultiArray;
using platform::MLMultiArrayDataType;

TEST(TextDecoderStep, AWarmStepAllocatesNothing) {
  mqtest::TempDir folder;
  platform::runner::TestModelOptions options;
  options.dimensions.audioContext = 32;
  options.dimensions.vocabularySize = 4000;
  options.dimensions.cacheLength = 64;
  options.scriptedLogits = {{100, 30.0f}};
  TextDecoder decoder;
  decoder.loadModel(platform::runner::writeTextDecoderModel(folder.path(), options),
                    platform::MLComputeUnits::cpuOnly, /*prewarmMode=*/false);
  const auto inputs = std::dynamic_pointer_cast<DecodingInputs>(decoder.prepareDecoderInputs({1}));
  ASSERT_NE(inputs, nullptr);
  const MLMultiArray encoderOutput({1, static_cast<int>(options.dimensions.width), 1, 32},
                                   MLMultiArrayDataType::float16, platform::Float16(0.25f));
  const TextDecoderMLMultiArrayInputType step(
      inputs->inputIds(), inputs->cacheLength(), inputs->keyCache(), inputs->valueCache(),
      inputs->kvCacheUpdateMask(), encoderOutput, inputs->decoderKeyPaddingMask());
  auto *token = inputs->inputIds().data<std::int32_t>();
  auto *position = inputs->cacheLength().data<std::int32_t>();
  auto *update = inputs->kvCacheUpdateMask().data<std::int32_t>();
  auto *padding = inputs->decoderKeyPaddingMask().data<platform::Float16>();

  long warmAllocations = 0;
  const void *logitsStorage = nullptr;
  for (int p = 0; p < 20; ++p) {
    token[0] = 100 + p;
    position[0] = p;
    // The first step builds the thread's input provider, output backings and the runner's
    // workspace.
    mqtools::AllocationCounter::resetCount();
    mqtools::AllocationCounter::setCounting(p > 0);
    {
      const auto output = decoder.predictLogits(step);
      ASSERT_TRUE(output && output->logits && output->cache && output->cache->keyCache &&
                  output->cache->valueCache && output->cache->alignmentWeights);
      TextDecoding::updateKVCache(inputs->keyCache(), *output->cache->keyCache,
                                  inputs->valueCache(), *output->cache->valueCache, p);
      TextDecoding::updateAlignmentWeights(inputs->alignmentWeights(),
                                           *output->cache->alignmentWeights, p);
      mqtools::AllocationCounter::setCounting(false);
      if (p == 0) {
        logitsStorage = output->logits->dataPointer();
      }
      EXPECT_EQ(output->logits->dataPointer(), logitsStorage) << p;
      EXPECT_NEAR(output->logits->data<float>()[100], 30.0f, 0.05f) << p;
      mqtools::AllocationCounter::setCounting(p > 0);
    } // releasing the step's handles frees nothing and allocates nothing
    mqtools::AllocationCounter::setCounting(false);
    warmAllocations += mqtools::AllocationCounter::count();
    update[p] = 0;
    update[p + 1] = 1;
    padding[p + 1] = platform::Float16(0.0f);
  }
  EXPECT_EQ(warmAllocations, 0);
}

} // namespace
} // namespace divuvovize
