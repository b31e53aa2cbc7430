#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"

#include "DivuvovIze/Decoding/Filters/LogitsFiltering.hpp"
#include "DivuvovIze/Decoding/Filters/LogitsMath.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <random>

namespace divuvovize {
namespace {

constexpr float kNegativeInfinity = -std::numeric_limits<float>::infinity();

// Uniform in [0, 1) from the top 24 bits, so 1 itself never comes out.
float unitFloat(std::uint64_t bits) {
  return static_cast<float>(bits >> 40) * (1.0f / 16777216.0f);
}

} // namespace

GreedyTokenSampler::RandomSource GreedyTokenSampler::seededRandom(std::uint64_t seed) {
  auto engine = std::make_shared<std::mt19937_64>(seed);
  return [engine] { return unitFloat((*engine)()); };
}

GreedyTokenSampler::GreedyTokenSampler(float temperature, int eotToken,
                                       DecodingOptions decodingOptions, RandomSource random)
    : temperature(temperature), eotToken(eotToken), decodingOptions(std::move(decodingOptions)),
      random_(std::move(random)) {
  if (!random_) {
    random_ = seededRandom(std::random_device{}());
  }
}

void GreedyTokenSampler::update(SamplingResult &sequence, const platform::MLMultiArray &logits) {
  const LogitsView view(logits);
  if (view.count == 0) {
    throw WhisperError::decodingLogitsFailed(
        "Logits must be a float32 array of shape [1, 1, vocabulary]");
  }
  // Masked tokens (-infinity) stay out of the draw whatever the temperature's sign.
  const bool greedy = temperature == 0;
  const float scale = greedy ? 1.0f : 1.0f / temperature;
  const int k = greedy ? 1 : std::clamp(decodingOptions.topK, 1, view.count);
  best_.clear();
  best_.reserve(static_cast<std::size_t>(k));
  if (greedy && view.stride == 1) {
    // The maximum and the first place that holds it, in one vectorized pass.
    const auto best = logitsmath::maxEntry(view.data, static_cast<std::size_t>(view.count));
    if (best.value != kNegativeInfinity) {
      best_.push_back(Candidate{best.value, static_cast<int>(best.index)});
    }
  }
  for (int id = 0; id < view.count && !(greedy && view.stride == 1); ++id) {
    const float logit = view[id];
    if (logit == kNegativeInfinity) {
      continue;
    }
    const float value = logit * scale;
    const bool full = static_cast<int>(best_.size()) == k;
    if (std::isnan(value) || (full && !(value > best_.back().value))) {
      continue;
    }
    if (full) {
      best_.pop_back();
    }
    const auto place =
        std::upper_bound(best_.begin(), best_.end(), value,
                         [](float v, const Candidate &candidate) { return v > candidate.value; });
    best_.insert(place, Candidate{value, id});
  }
  int token = eotToken;
  float logProb = kNegativeInfinity;
  if (!best_.empty()) {
    const float maximum = best_.front().value;
    float normaliser = 0;
    if (view.stride == 1 && scale > 0) {
      normaliser =
          logitsmath::sumExp(view.data, static_cast<std::size_t>(view.count), scale, maximum);
    } else {
      for (int id = 0; id < view.count; ++id) {
        if (view[id] != kNegativeInfinity) {
          normaliser += std::exp(view[id] * scale - maximum);
        }
      }
    }
    std::size_t chosen = 0;
    if (!greedy) {
      float total = 0;
      for (const auto &candidate : best_) {
        total += std::exp(candidate.value - maximum) / normaliser;
      }
      const float threshold = total * random_();
      float running = 0;
      for (std::size_t i = 0; i < best_.size(); ++i) {
        running += std::exp(best_[i].value - maximum) / normaliser;
        if (threshold < running) {
          chosen = i;
          break;
        }
      }
    }
    token = best_[chosen].id;
    logProb = (best_[chosen].value - maximum) - std::log(normaliser);
  }
  sequence.tokens.push_back(token);
  sequence.logProbs.push_back(logProb);
  sequence.completed = token == eotToken;
}

SamplingResult GreedyTokenSampler::finalize(const std::vector<int> &tokens,
                                            const std::vector<float> &logProbs) const {
  SamplingResult result{tokens, logProbs, true};
  if (tokens.empty() || tokens.back() != eotToken) {
    result.tokens.push_back(eotToken);
    result.logProbs.push_back(0);
  }
  return result;
}

} // namespace divuvovize
