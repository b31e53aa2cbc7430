// A decoder block's step gives the same result whether the self-attention heads' projections and
// attention run in one loop or as loops apart.

#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/layers/DecoderLayer.hpp"
#include "platform/ml/runner/ops/Attention.hpp"

#include "tests/platform/ml/runner/RandomValues.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace platform::runner;

struct RandomLayer {
  RandomLayer(std::size_t heads, bool halfWeights, std::mt19937 &generator)
      : d(heads * kHeadDim), f(2 * d), generator(generator) {
    shape = {d, heads, f, kCacheLength, kMemoryLength};
    weights.selfAttentionNorm = norm();
    weights.selfAttention.qkv = matrix(3 * d, d, halfWeights, 3);
    weights.selfAttention.qkvBias = floats(3 * d);
    weights.selfAttention.out = matrix(d, d, halfWeights, 1);
    weights.selfAttention.outBias = floats(d);
    weights.crossAttentionNorm = norm();
    weights.crossAttention.q = matrix(d, d, halfWeights, 1);
    weights.crossAttention.qBias = floats(d);
    weights.crossAttention.out = matrix(d, d, halfWeights, 1);
    weights.crossAttention.outBias = floats(d);
    weights.mlpNorm = norm();
    weights.mlp.fc1 = matrix(f, d, halfWeights, 1);
    weights.mlp.fc1Bias = floats(f);
    weights.mlp.fc2 = matrix(d, f, halfWeights, 1);
    weights.mlp.fc2Bias = floats(d);
    keyCache = randomHalves(d * kCacheLength, generator);
    valueCache = randomHalves(d * kCacheLength, generator);
    const MemoryAttention memoryShape{heads, kHeadDim, kMemoryLength};
    memory.resize(2 * d * kMemoryLength);
    packHalfMemory(memoryShape, randomFloats(d * kMemoryLength, generator).data(),
                   randomFloats(d * kMemoryLength, generator).data(), memory.data());
    // Position 7 is this step's; the six before it were decoded, one of them masked out.
    for (std::size_t s = 0; s < kCacheLength; ++s) {
      padding.push_back(s <= 7 && s != 3 ? 0.0f : -10000.0f);
      update.push_back(s == 7 ? 1 : 0);
    }
  }

  static constexpr std::size_t kHeadDim = 16;
  static constexpr std::size_t kCacheLength = 20;
  static constexpr std::size_t kMemoryLength = 67;

  struct Result {
    std::vector<float> x, newKey, newValue, crossWeights;
  };

  Result step(bool headsTogether, const std::vector<float> &input) const {
    DecoderLayerShape s = shape;
    s.headsTogether = headsTogether;
    Result r{input, std::vector<float>(d), std::vector<float>(d),
             std::vector<float>(shape.heads * kMemoryLength)};
    std::vector<float> normed(d), qkv(3 * d), attended(d), projected(d), ffn(f), partial(d);
    std::vector<float> scores(shape.heads * kCacheLength);
    std::vector<std::size_t> runs(kCacheLength + 1);
    std::vector<float> memoryPartials(
        memoryAttentionScratchSize({shape.heads, kHeadDim, kMemoryLength}));
    std::vector<std::atomic<std::uint32_t>> headsDone(shape.heads);
    const DecoderLayerScratch scratch{
        normed.data(), qkv.data(),     attended.data(), projected.data(),      ffn.data(),
        runs.data(),   partial.data(), scores.data(),   memoryPartials.data(), headsDone.data()};
    const DecoderCacheView cache{keyCache.data(), valueCache.data(), update.data(), padding.data()};
    CrossMemoryView crossMemory;
    crossMemory.half = memory.data();
    decoderLayerStep(weights, s, r.x.data(), cache, crossMemory, scratch, r.newKey.data(),
                     r.newValue.data(), r.crossWeights.data());
    return r;
  }

  const float *floats(std::size_t count) {
    return floatStore.emplace_back(randomFloats(count, generator, 0.5f)).data();
  }

  LayerNormWeights norm() { return {floats(d), floats(d)}; }

  MatrixView matrix(std::size_t rows, std::size_t cols, bool half, std::size_t blocks) {
    MatrixView m;
    m.rows = rows;
    m.cols = cols;
    if (!half) {
      m.data = floats(rows * cols);
      return m;
    }
    m.halfBlocks = blocks;
    for (std::size_t b = 0; b < blocks; ++b) {
      m.half[b] = halfStore.emplace_back(randomHalves(rows / blocks * cols, generator)).data();
    }
    return m;
  }

  std::size_t d, f;
  std::mt19937 &generator;
  DecoderLayerShape shape;
  DecoderLayerWeights weights;
  std::vector<std::uint16_t> keyCache, valueCache, memory;
  std::vector<float> padding;
  std::vector<std::int32_t> update;
  std::vector<std::vector<float>> floatStore;
  std::vector<std::vector<std::uint16_t>> halfStore;
};

// Float16 weights give the same bits both ways: a projection row takes the same one-row kernel
// however the rows are grouped; float32 weights, whose whole-matrix product may take another
// kernel, agree closely. Head counts below, at and above the thread count, evenly shared out or
// not.
TEST(DecoderLayerStep, HeadsInOneLoopGiveTheSameResult) {
  std::mt19937 generator(31);
  const std::size_t threads = parallelThreadCount();
  for (const bool half : {true, false}) {
    for (const std::size_t heads : {std::size_t{1}, std::size_t{3}, threads, 2 * threads + 1}) {
      SCOPED_TRACE(std::string(half ? "float16" : "float32") + " weights, " +
                   std::to_string(heads) + " heads");
      const RandomLayer layer(heads, half, generator);
      const std::vector<float> input = randomFloats(layer.d, generator);
      const auto apart = layer.step(false, input);
      const auto together = layer.step(true, input);
      const float tolerance = half ? 0.0f : 1e-5f;
      for (std::size_t i = 0; i < layer.d; ++i) {
        ASSERT_NEAR(together.x[i], apart.x[i], tolerance) << "output " << i;
        ASSERT_NEAR(together.newKey[i], apart.newKey[i], tolerance) << "key " << i;
        ASSERT_NEAR(together.newValue[i], apart.newValue[i], tolerance) << "value " << i;
      }
      for (std::size_t i = 0; i < together.crossWeights.size(); ++i) {
        ASSERT_NEAR(together.crossWeights[i], apart.crossWeights[i], tolerance) << "weight " << i;
      }
    }
  }
}

} // namespace
