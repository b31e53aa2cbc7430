#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "DivuvovIze/Decoding/Sampling/BeamSearchTokenSampler.hpp"
#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"

namespace divuvovize {
namespace {

constexpr float kMasked = -std::numeric_limits<float>::infinity();
constexpr int kEnd = 9;

platform::MLMultiArray logitsOf(const std::vector<float> &values) {
  platform::MLMultiArray array({1, 1, static_cast<int>(values.size())},
                               platform::MLMultiArrayDataType::float32);
  std::copy(values.begin(), values.end(), array.data<float>());
  return array;
}

// log softmax(values)[id], in double.
double logSoftmax(const std::vector<float> &values, int id, double temperature = 1) {
  double maximum = -INFINITY;
  for (float v : values) {
    maximum = std::max(maximum, v / temperature);
  }
  double sum = 0;
  for (float v : values) {
    sum += std::exp(v / temperature - maximum);
  }
  return values[static_cast<std::size_t>(id)] / temperature - maximum - std::log(sum);
}

DecodingOptions withTopK(int topK) {
  DecodingOptions options;
  options.topK = topK;
  return options;
}

const std::vector<float> kLogits = {0.5f, 2.0f,    -1.0f, 1.5f, 0.0f,
                                    3.0f, kMasked, 1.0f,  2.5f, -2.0f};

TEST(GreedyTokenSampler, TemperatureZeroTakesTheArgMaxWithItsLogProbability) {
  GreedyTokenSampler sampler(0, kEnd, DecodingOptions{});
  const auto logits = logitsOf(kLogits);
  for (int repeat = 0; repeat < 3; ++repeat) {
    const SamplingResult result = sampler.update({1, 2}, logits, {0.0f, -0.5f});
    EXPECT_EQ(result.tokens, (std::vector<int>{1, 2, 5}));
    ASSERT_EQ(result.logProbs.size(), 3u);
    EXPECT_EQ(result.logProbs[1], -0.5f);
    EXPECT_NEAR(result.logProbs[2], logSoftmax(kLogits, 5), 1e-5);
    EXPECT_FALSE(result.completed);
  }
  EXPECT_EQ(logits.data<float>()[5], 3.0f) << "the logits are not changed";
}

TEST(GreedyTokenSampler, CompletedExactlyWhenTheEndTokenIsChosen) {
  GreedyTokenSampler sampler(0, kEnd, DecodingOptions{});
  std::vector<float> values(10, 0.0f);
  values[kEnd] = 1.0f;
  EXPECT_TRUE(sampler.update({}, logitsOf(values), {}).completed);
  values[kEnd] = -1.0f;
  EXPECT_FALSE(sampler.update({}, logitsOf(values), {}).completed);
}

TEST(GreedyTokenSampler, TopKOfOneAtAnyTemperatureIsGreedy) {
  for (const float temperature : {0.2f, 1.0f, 5.0f}) {
    GreedyTokenSampler sampler(temperature, kEnd, withTopK(1), GreedyTokenSampler::seededRandom(7));
    const SamplingResult result = sampler.update({}, logitsOf(kLogits), {});
    EXPECT_EQ(result.tokens, std::vector<int>{5});
    EXPECT_NEAR(result.logProbs[0], logSoftmax(kLogits, 5, temperature), 1e-5);
  }
}

// The draw follows the top-k probabilities: with a scripted source each slice of [0, 1) picks
// its candidate; with a seeded source the frequencies approach the renormalised probabilities.
TEST(GreedyTokenSampler, DrawsAmongTheTopKInProportionToTheirProbabilities) {
  const std::vector<float> values = {-20.0f, std::log(3.0f), std::log(2.0f), std::log(1.0f),
                                     -20.0f};
  // Top 3: ids 1, 2, 3 with weights 3, 2, 1 -> slices [0, .5), [.5, .833), [.833, 1).
  struct Case {
    float uniform;
    int token;
  };
  for (const Case c : {Case{0.0f, 1}, Case{0.49f, 1}, Case{0.51f, 2}, Case{0.82f, 2},
                       Case{0.84f, 3}, Case{0.999f, 3}}) {
    SCOPED_TRACE(c.uniform);
    GreedyTokenSampler sampler(1.0f, kEnd, withTopK(3), [&] { return c.uniform; });
    const SamplingResult result = sampler.update({}, logitsOf(values), {});
    EXPECT_EQ(result.tokens[0], c.token);
    EXPECT_NEAR(result.logProbs[0], logSoftmax(values, c.token), 1e-5);
  }

  GreedyTokenSampler seeded(1.0f, kEnd, withTopK(3), GreedyTokenSampler::seededRandom(42));
  std::map<int, int> counts;
  SamplingResult sequence;
  const auto logits = logitsOf(values);
  for (int i = 0; i < 6000; ++i) {
    seeded.update(sequence, logits);
  }
  for (int token : sequence.tokens) {
    ++counts[token];
  }
  EXPECT_EQ(counts.size(), 3u);
  EXPECT_NEAR(counts[1] / 6000.0, 0.5, 0.03);
  EXPECT_NEAR(counts[2] / 6000.0, 1 / 3.0, 0.03);
  EXPECT_NEAR(counts[3] / 6000.0, 1 / 6.0, 0.03);
}

TEST(GreedyTokenSampler, SameSeedSameTokens) {
  auto draw = [](std::uint64_t seed) {
    GreedyTokenSampler sampler(0.7f, kEnd, withTopK(5), GreedyTokenSampler::seededRandom(seed));
    SamplingResult sequence;
    const auto logits = logitsOf(kLogits);
    for (int i = 0; i < 50; ++i) {
      sampler.update(sequence, logits);
    }
    return sequence.tokens;
  };
  EXPECT_EQ(draw(3), draw(3));
  EXPECT_NE(draw(3), draw(4));
}

// A negative temperature still samples (the logits divided by it), but masked tokens stay out.
TEST(GreedyTokenSampler, NegativeTemperatureSamplesAndKeepsMasksOut) {
  GreedyTokenSampler sampler(-1.0f, kEnd, withTopK(1), GreedyTokenSampler::seededRandom(1));
  const SamplingResult result = sampler.update({}, logitsOf(kLogits), {});
  EXPECT_EQ(result.tokens, std::vector<int>{9}) << "the smallest unmasked logit, -2.0";
}

TEST(GreedyTokenSampler, EverythingMaskedEndsTheSequence) {
  GreedyTokenSampler sampler(0, kEnd, DecodingOptions{});
  const SamplingResult result = sampler.update({4}, logitsOf(std::vector<float>(10, kMasked)), {0});
  EXPECT_EQ(result.tokens, (std::vector<int>{4, kEnd}));
  EXPECT_EQ(result.logProbs[1], kMasked);
  EXPECT_TRUE(result.completed);
}

TEST(GreedyTokenSampler, FinalizeAppendsTheEndTokenOnce) {
  const GreedyTokenSampler sampler(0, kEnd, DecodingOptions{});
  EXPECT_EQ(sampler.finalize({}, {}), (SamplingResult{{kEnd}, {0.0f}, true}));
  EXPECT_EQ(sampler.finalize({1, 2}, {0.0f, -1.0f}),
            (SamplingResult{{1, 2, kEnd}, {0.0f, -1.0f, 0.0f}, true}));
  EXPECT_EQ(sampler.finalize({1, kEnd}, {0.0f, -1.0f}),
            (SamplingResult{{1, kEnd}, {0.0f, -1.0f}, true}));
}

TEST(GreedyTokenSampler, RefusesLogitsOfAnotherShape) {
  GreedyTokenSampler sampler(0, kEnd, DecodingOptions{});
  EXPECT_THROW(
      sampler.update({}, platform::MLMultiArray({10}, platform::MLMultiArrayDataType::float32), {}),
      WhisperError);
}

TEST(BeamSearchTokenSampler, KeepsItsParametersAndHasNoSearch) {
  BeamSearchTokenSampler sampler(5, kEnd, 1.0f);
  EXPECT_EQ(sampler.maxCandidates(), 5);
  EXPECT_TRUE(sampler.finishedSequences().empty());
  sampler.reset();
  EXPECT_EQ(BeamSearchTokenSampler(4, kEnd, 1.5f).maxCandidates(), 6);
  try {
    BeamSearchTokenSampler(5, kEnd, 0.1f);
    FAIL() << "accepted beam size x patience below 1";
  } catch (const WhisperError &error) {
    EXPECT_STREQ(error.what(), "Invalid beam size 5 or patience 0.1");
  }
  try {
    sampler.update({}, logitsOf(kLogits), {});
    FAIL();
  } catch (const WhisperError &error) {
    EXPECT_STREQ(error.what(), "Not implemented: update(tokens:logits:logProbs:)");
  }
  try {
    sampler.finalize({}, {});
    FAIL();
  } catch (const WhisperError &error) {
    EXPECT_STREQ(error.what(), "Not implemented: finalize(tokens:logProbs:)");
  }
}

} // namespace
} // namespace divuvovize
