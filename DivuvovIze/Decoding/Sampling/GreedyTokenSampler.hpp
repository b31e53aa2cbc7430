#pragma once

#include "DivuvovIze/Decoding/Sampling/TokenSampling.hpp"
#include "DivuvovIze/Models/DecodingOptions.hpp"

#include <cstdint>
#include <functional>

namespace divuvovize {

// Picks the most probable token at temperature 0; at any other temperature (negative and NaN
// included) divides the logits by it and draws among the topK most probable tokens in proportion
// to their probabilities. Two passes over the logits per step (one finds the maximum and the top
// candidates, one sums the softmax normaliser) and no allocation once warm. When every logit is
// masked nothing can be drawn: the end-of-text token is chosen with log-probability -infinity.
//
// Not thread-safe: one sampler per window loop (the fallback driver makes one per temperature).
class GreedyTokenSampler : public TokenSampling {
public:
  // A source of uniform random numbers in [0, 1).
  using RandomSource = std::function<float()>;

  // `random` defaults to a generator seeded from the system's entropy source. Only
  // decodingOptions.topK is read; a topK below 1 draws from the single best token.
  GreedyTokenSampler(float temperature, int eotToken, DecodingOptions decodingOptions,
                     RandomSource random = {});

  using TokenSampling::update;
  void update(SamplingResult &sequence, const platform::MLMultiArray &logits) override;
  // The tokens unchanged when they already end with eotToken, else with eotToken (and
  // log-probability 0) appended; completed in either case.
  SamplingResult finalize(const std::vector<int> &tokens,
                          const std::vector<float> &logProbs) const override;

  // A reproducible source: the same seed gives the same numbers on every platform.
  static RandomSource seededRandom(std::uint64_t seed);

  float temperature = 0;
  int eotToken = 0;
  DecodingOptions decodingOptions;

private:
  struct Candidate {
    float value; // logit divided by the temperature
    int id;
  };

  RandomSource random_;
  std::vector<Candidate> best_; // the top-k candidates, best first; capacity kept across steps
};

} // namespace divuvovize
