// The decoder's one-position attention ops against float64 references, on every float16 kernel
// path this CPU offers and the portable one.

#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/kernels/HalfKernels.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/ops/Attention.hpp"

#include "tests/platform/ml/runner/ForcedInstructionSet.hpp"
#include "tests/platform/ml/runner/RandomValues.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace platform::runner;

constexpr float kMasked = -10000.0f;

class AttentionPaths : public ForcedInstructionSet {};

// Softmax-weighted values of one head in float64. score(s) and value(c, s) give the operands of
// the positions in `taking`, each with its mask value.
template <class Score, class Value>
std::vector<double> attendReference(const std::vector<std::size_t> &taking,
                                    const std::vector<double> &masks, std::size_t headDim,
                                    Score score, Value value) {
  std::vector<double> weights;
  double maximum = -INFINITY;
  for (std::size_t i = 0; i < taking.size(); ++i) {
    // The mask is added in float32 as the runner does: next to -10000 that addition rounds the
    // score to 1e-3, which no float64 sum would show.
    const auto scaled =
        static_cast<float>(score(taking[i]) / std::sqrt(static_cast<double>(headDim)));
    weights.push_back(scaled + static_cast<float>(masks[i]));
    maximum = std::max(maximum, weights.back());
  }
  double sum = 0;
  for (auto &w : weights) {
    w = std::exp(w - maximum);
    sum += w;
  }
  std::vector<double> out(headDim, 0.0);
  for (std::size_t c = 0; c < headDim; ++c) {
    for (std::size_t i = 0; i < taking.size(); ++i) {
      out[c] += weights[i] / sum * value(c, taking[i]);
    }
  }
  return out;
}

struct CacheCase {
  std::string name;
  std::string attended; // one character per cache position: 'x' attends, '.' is masked
  std::size_t update;   // the position this step writes
};

// Cache entries the op must not read (masked positions and the slot being written) hold NaN and
// infinity, so reading one would show in the result.
TEST_P(AttentionPaths, CachedAttentionMatchesFloat64AndNeverReadsUnusedSlots) {
  const std::vector<CacheCase> cases = {
      {"a prefix with the update at its end", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx..........",
       36},
      {"holes and the update inside", "..xx.xxxxx..x.xxxxxxxxxxxxxxxxxxx.xx.x.", 20},
      {"every other position", "x.x.x.x.x", 4},
      {"only the update", "....x....", 4},
      {"an update outside the attended ones", "xxxxx....", 7},
      {"nothing attended: every position takes part", ".......", 3},
  };
  constexpr std::size_t kHeads = 3, kHeadDim = 20, kWidth = kHeads * kHeadDim;
  std::mt19937 generator(17);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t length = c.attended.size();
    const bool anyAttended = c.attended.find('x') != std::string::npos;
    auto takesPart = [&](std::size_t s) { return !anyAttended || c.attended[s] == 'x'; };
    std::vector<std::uint16_t> keys(kWidth * length), values(kWidth * length);
    std::vector<float> padding(length), q = randomFloats(kWidth, generator);
    std::vector<float> newKey = randomFloats(kWidth, generator);
    std::vector<float> newValue = randomFloats(kWidth, generator);
    std::vector<std::int32_t> update(length, 0);
    update[c.update] = 1;
    std::uniform_real_distribution<float> maskValue(-3.0f, 0.0f);
    for (std::size_t s = 0; s < length; ++s) {
      padding[s] = c.attended[s] == 'x' ? maskValue(generator) : kMasked;
      const bool read = takesPart(s) && s != c.update;
      for (std::size_t ch = 0; ch < kWidth; ++ch) {
        keys[ch * length + s] = read ? floatToHalf(maskValue(generator) + 1.5f) : 0x7e00;   // NaN
        values[ch * length + s] = read ? floatToHalf(maskValue(generator) + 1.5f) : 0x7c00; // inf
      }
    }
    std::vector<std::size_t> runs(length + 1);
    std::vector<float> scores(kHeads * length), partial(kWidth), out(kWidth + 1, 7.0f);
    attendHalfCache({kHeads, kHeadDim, length}, q.data(), newKey.data(), newValue.data(),
                    keys.data(), values.data(), update.data(), padding.data(),
                    {runs.data(), scores.data(), partial.data()}, out.data());

    std::vector<std::size_t> taking;
    std::vector<double> masks;
    for (std::size_t s = 0; s < length; ++s) {
      if (takesPart(s)) {
        taking.push_back(s);
        masks.push_back(padding[s]);
      }
    }
    for (std::size_t h = 0; h < kHeads; ++h) {
      const std::size_t base = h * kHeadDim;
      auto key = [&](std::size_t ch, std::size_t s) -> double {
        return s == c.update ? newKey[ch] : halfToFloat(keys[ch * length + s]);
      };
      const auto expected = attendReference(
          taking, masks, kHeadDim,
          [&](std::size_t s) {
            double sum = 0;
            for (std::size_t i = 0; i < kHeadDim; ++i) {
              sum += static_cast<double>(q[base + i]) * key(base + i, s);
            }
            return sum;
          },
          [&](std::size_t i, std::size_t s) -> double {
            return s == c.update ? newValue[base + i]
                                 : halfToFloat(values[(base + i) * length + s]);
          });
      for (std::size_t i = 0; i < kHeadDim; ++i) {
        ASSERT_NEAR(out[base + i], expected[i], 1e-5) << "head " << h << ", channel " << i;
      }
    }
    EXPECT_EQ(out[kWidth], 7.0f);
  }
}

// The packed float16 memory gives the float32 memory's result on the same (float16-exact) values,
// and both match float64: for lengths within one block, at a block's edge and past it, with
// every vector tail, and for fewer heads than threads and more.
TEST_P(AttentionPaths, MemoryAttentionOverFloat16MatchesFloat64) {
  constexpr std::size_t kHeadDim = 12;
  constexpr std::size_t kBlock = kMemoryBlockLength;
  std::mt19937 generator(23);
  for (const std::size_t kHeads : {std::size_t{3}, 2 * parallelThreadCount()}) {
    for (std::size_t length : {std::size_t{1}, std::size_t{15}, std::size_t{67}, kBlock, kBlock + 1,
                               3 * kBlock - 5, std::size_t{1500}}) {
      const std::size_t kWidth = kHeads * kHeadDim;
      SCOPED_TRACE(std::to_string(kHeads) + " heads, " + std::to_string(length) + " positions");
      std::vector<float> keys(kWidth * length), values(kWidth * length);
      const auto k = randomFloats(kWidth * length, generator);
      const auto v = randomFloats(kWidth * length, generator);
      for (std::size_t i = 0; i < k.size(); ++i) {
        keys[i] = halfToFloat(floatToHalf(2.0f * k[i]));
        values[i] = halfToFloat(floatToHalf(v[i]));
      }
      const auto q = randomFloats(kWidth, generator);
      const MemoryAttention shape{kHeads, kHeadDim, length};
      std::vector<std::uint16_t> packed(2 * kWidth * length);
      packHalfMemory(shape, keys.data(), values.data(), packed.data());
      std::vector<float> partials(memoryAttentionScratchSize(shape));
      std::vector<std::atomic<std::uint32_t>> blocksDone(kHeads);
      std::vector<float> halfWeights(kHeads * length), halfOut(kWidth);
      std::vector<float> floatWeights(kHeads * length), floatOut(kWidth);
      attendHalfMemory(shape, q.data(), packed.data(), {partials.data(), blocksDone.data()},
                       halfWeights.data(), halfOut.data());
      attendMemory(shape, q.data(), keys.data(), values.data(), floatWeights.data(),
                   floatOut.data());

      std::vector<std::size_t> taking(length);
      for (std::size_t t = 0; t < length; ++t) {
        taking[t] = t;
      }
      const std::vector<double> masks(length, 0.0);
      for (std::size_t h = 0; h < kHeads; ++h) {
        const std::size_t base = h * kHeadDim;
        const auto expected = attendReference(
            taking, masks, kHeadDim,
            [&](std::size_t t) {
              double sum = 0;
              for (std::size_t i = 0; i < kHeadDim; ++i) {
                sum += static_cast<double>(q[base + i]) * keys[(base + i) * length + t];
              }
              return sum;
            },
            [&](std::size_t i, std::size_t t) -> double {
              return values[(base + i) * length + t];
            });
        for (std::size_t i = 0; i < kHeadDim; ++i) {
          ASSERT_NEAR(halfOut[base + i], expected[i], 1e-5) << "head " << h << ", channel " << i;
          ASSERT_NEAR(halfOut[base + i], floatOut[base + i], 1e-5);
        }
        for (std::size_t t = 0; t < length; ++t) {
          ASSERT_NEAR(halfWeights[h * length + t], floatWeights[h * length + t], 1e-6)
              << "head " << h << ", position " << t;
        }
      }
    }
  }
}

// Each block's share is worked out on its own and the shares combined in a fixed order, so the
// result is the same bits whichever thread runs which block and in what order they finish: here
// the loop runs inside another parallelFor, so on one thread, front to back.
TEST(MemoryAttention, ResultDoesNotDependOnTheThreads) {
  std::mt19937 generator(5);
  const MemoryAttention shape{2 * parallelThreadCount() + 1, 8, 5 * kMemoryBlockLength + 3};
  const std::size_t width = shape.heads * shape.headDim;
  const auto keys = randomFloats(width * shape.length, generator);
  const auto values = randomFloats(width * shape.length, generator);
  const auto q = randomFloats(width, generator);
  std::vector<std::uint16_t> packed(2 * width * shape.length);
  packHalfMemory(shape, keys.data(), values.data(), packed.data());
  struct Result {
    std::vector<float> weights, out;
  };
  auto attend = [&] {
    std::vector<float> partials(memoryAttentionScratchSize(shape));
    std::vector<std::atomic<std::uint32_t>> blocksDone(shape.heads);
    Result r{std::vector<float>(shape.heads * shape.length), std::vector<float>(width)};
    attendHalfMemory(shape, q.data(), packed.data(), {partials.data(), blocksDone.data()},
                     r.weights.data(), r.out.data());
    return r;
  };
  const Result shared = attend();
  Result alone;
  parallelFor(0, 2, 1, [&](std::size_t begin, std::size_t) {
    if (begin == 0) {
      alone = attend();
    }
  });
  EXPECT_EQ(shared.out, alone.out);
  EXPECT_EQ(shared.weights, alone.weights);
}

// A query made inside the loop, by the first thread to need its head, gives the same bits as one
// made before it; each head's query is made once, and only after the loop began (the buffer
// holds garbage until then).
TEST(MemoryAttention, QueriesMadeOnDemandGiveTheSameResult) {
  std::mt19937 generator(9);
  for (const std::size_t heads : {std::size_t{1}, 2 * parallelThreadCount() + 1}) {
    const MemoryAttention shape{heads, 8, 3 * kMemoryBlockLength + 7};
    const std::size_t width = shape.heads * shape.headDim;
    const auto keys = randomFloats(width * shape.length, generator);
    const auto values = randomFloats(width * shape.length, generator);
    const auto q = randomFloats(width, generator);
    std::vector<std::uint16_t> packed(2 * width * shape.length);
    packHalfMemory(shape, keys.data(), values.data(), packed.data());
    std::vector<float> partials(memoryAttentionScratchSize(shape));
    std::vector<std::atomic<std::uint32_t>> blocksDone(shape.heads);
    std::vector<float> weights(shape.heads * shape.length), out(width);
    attendHalfMemory(shape, q.data(), packed.data(), {partials.data(), blocksDone.data()},
                     weights.data(), out.data());

    std::vector<float> madeQ(width, NAN);
    std::vector<std::atomic<int>> made(shape.heads);
    struct Maker {
      const std::vector<float> &q;
      std::vector<float> &madeQ;
      std::vector<std::atomic<int>> &made;
      std::size_t headDim;
    } maker{q, madeQ, made, shape.headDim};
    const MemoryQuery query{[](void *context, std::size_t head) {
                              auto &m = *static_cast<Maker *>(context);
                              m.made[head].fetch_add(1);
                              std::copy_n(m.q.begin() + head * m.headDim, m.headDim,
                                          m.madeQ.begin() + head * m.headDim);
                            },
                            &maker};
    std::vector<float> onDemandWeights(weights.size()), onDemandOut(width);
    attendHalfMemory(shape, madeQ.data(), packed.data(), {partials.data(), blocksDone.data()},
                     onDemandWeights.data(), onDemandOut.data(), query);
    EXPECT_EQ(onDemandOut, out);
    EXPECT_EQ(onDemandWeights, weights);
    for (std::size_t h = 0; h < shape.heads; ++h) {
      EXPECT_EQ(made[h].load(), 1) << "head " << h;
    }
  }
}

MQ_INSTANTIATE_FOR_EVERY_INSTRUCTION_SET(AttentionPaths);

} // namespace
