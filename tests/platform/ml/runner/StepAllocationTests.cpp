// A decoder step reuses its workspace: once warm, neither the network nor a prediction with
// caller-owned outputs allocates anything per token.

#include "bench/support/AllocationCounter.hpp"
#include "platform/ml/LoadMLModel.hpp"
#include "platform/ml/MLModel.hpp"
#include "platform/ml/runner/models/TextDecoderNetwork.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

namespace {

using mqbench::AllocationCounter;
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
    AllocationCounter::setCounting(position > 0);
    network.step(step, workspace, out);
    AllocationCounter::setCounting(false);
  }
  EXPECT_EQ(AllocationCounter::count(), 0);
}

// A window's cross-attention memory widens only the cross-attention matrices it multiplies, never
// a scratch the size of the token embedding (the largest matrix by far in real models).
TEST(TextDecoderNetwork, ComputingTheMemoryAllocatesNoMoreThanOneLayersCrossMatrices) {
  mqtest::TempDir dir;
  TestModelOptions options;
  options.dimensions.audioContext = 32;
  options.dimensions.vocabularySize = 4000;
  const auto folder = writeTextDecoderModel(dir.path(), options);
  const auto &d = options.dimensions;
  const SafeTensorsFile weights(folder / "weights.safetensors");
  const TextDecoderNetwork network(d, {}, weights);
  ASSERT_GT(d.vocabularySize, 2 * d.width);

  std::vector<float> encoder(d.width * d.audioContext, 0.25f);
  std::vector<float> memory(network.memorySize());
  std::vector<float> unlimited(network.memorySize());
  network.computeMemory(encoder.data(), unlimited.data());
  {
    const mqbench::AllocationLimit limit(2 * d.width * d.width * sizeof(float));
    network.computeMemory(encoder.data(), memory.data());
    EXPECT_EQ(limit.refused(), 0u) << "largest refused: " << limit.largestRefused();
  }
  EXPECT_EQ(memory, unlimited);
}

TEST(TextDecoderModel, PredictionsWithOutputBackingsAllocateNothingAtAnyPosition) {
  mqtest::TempDir dir;
  TestModelOptions options;
  options.dimensions.audioContext = 32;
  options.dimensions.vocabularySize = 4000;
  options.dimensions.cacheLength = 64;
  const auto &d = options.dimensions;
  const auto model = platform::loadMLModel(writeTextDecoderModel(dir.path(), options));
  using platform::MLMultiArray;
  using T = platform::MLMultiArrayDataType;
  const int width = static_cast<int>(d.decoderLayers * d.width);
  const int length = static_cast<int>(d.cacheLength);
  MLMultiArray token = MLMultiArray::from({100});
  MLMultiArray position = MLMultiArray::from({0});
  MLMultiArray update({1, length}, T::int32);
  MLMultiArray padding({1, length}, T::float16, -10000.0f);
  const platform::MLDictionaryFeatureProvider input(std::map<std::string, MLMultiArray>{
      {"input_ids", token},
      {"cache_length", position},
      {"key_cache", MLMultiArray({1, width, 1, length}, T::float16, 0.5f)},
      {"value_cache", MLMultiArray({1, width, 1, length}, T::float16, -0.5f)},
      {"kv_cache_update_mask", update},
      {"encoder_output_embeds",
       MLMultiArray({1, static_cast<int>(d.width), 1, static_cast<int>(d.audioContext)}, T::float16,
                    0.25f)},
      {"decoder_key_padding_mask", padding}});
  platform::MLPredictionOptions backed;
  backed.outputBackings =
      std::make_shared<platform::MLDictionaryFeatureProvider>(std::map<std::string, MLMultiArray>{
          {"logits", MLMultiArray({1, 1, static_cast<int>(d.vocabularySize)}, T::float32)},
          {"key_cache_updates", MLMultiArray({1, width, 1, 1}, T::float16)},
          {"value_cache_updates", MLMultiArray({1, width, 1, 1}, T::float16)},
          {"alignment_heads_weights",
           MLMultiArray({1, static_cast<int>(d.audioContext)}, T::float32)}});

  long allocationsAtPositions = 0;
  for (int step = 0; step < length; ++step) {
    token.data<std::int32_t>()[0] = 100 + step;
    position.data<std::int32_t>()[0] = step;
    update.data<std::int32_t>()[step] = 1;
    padding.setValue(step, 0.0);
    // The first prediction fills the workspace pool, the cross-attention memory and the pool.
    AllocationCounter::resetCount();
    AllocationCounter::setCounting(step > 0);
    const auto result = model->prediction(input, backed);
    AllocationCounter::setCounting(false);
    allocationsAtPositions += AllocationCounter::count();
    ASSERT_EQ(result, backed.outputBackings);
    update.data<std::int32_t>()[step] = 0;
  }
  EXPECT_EQ(allocationsAtPositions, 0);
}

} // namespace
