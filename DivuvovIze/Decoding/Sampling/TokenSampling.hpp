#pragma once

#include "platform/ml/MLMultiArray.hpp"

#include <vector>

namespace divuvovize {

// A token sequence with one log-probability per token, and whether it is finished.
struct SamplingResult {
  std::vector<int> tokens;
  std::vector<float> logProbs;
  bool completed = false;

  bool operator==(const SamplingResult &) const = default;
};

// Turns one step's filtered logits (float32, [1, 1, vocabulary]) into the next token, and closes
// a sequence at the end of a window. One sampler serves one window's loop at a time.
class TokenSampling {
public:
  virtual ~TokenSampling() = default;

  // Appends the next token and its log-probability to `sequence` and sets `completed` when that
  // token ends the sequence. The step loop keeps one sequence and calls this, so steps
  // allocate nothing once its lists have room; the logits are not changed.
  virtual void update(SamplingResult &sequence, const platform::MLMultiArray &logits) = 0;
  // The sequence so far plus the next token, as a new result; the inputs are not changed.
  SamplingResult update(const std::vector<int> &tokens, const platform::MLMultiArray &logits,
                        const std::vector<float> &logProbs) {
    SamplingResult result{tokens, logProbs, false};
    update(result, logits);
    return result;
  }
  // The finished sequence.
  virtual SamplingResult finalize(const std::vector<int> &tokens,
                                  const std::vector<float> &logProbs) const = 0;
};

} // namespace divuvovize
