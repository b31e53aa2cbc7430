#pragma once

#include "DivuvovIze/Decoding/Sampling/TokenSampling.hpp"

namespace divuvovize {

// The parameters of a beam search, without the search: update and finalize throw
// WhisperError::decodingFailed ("Not implemented: ..."). The engine samples greedily.
class BeamSearchTokenSampler : public TokenSampling {
public:
  // maxCandidates = the integer part of beamSize x patience (in float); a value below 1 throws
  // WhisperError::decodingFailed "Invalid beam size <beamSize> or patience <patience>".
  BeamSearchTokenSampler(int beamSize, int eotToken, float patience = 1);

  // Empties finishedSequences.
  void reset();

  using TokenSampling::update;
  void update(SamplingResult &sequence, const platform::MLMultiArray &logits) override;
  SamplingResult finalize(const std::vector<int> &tokens,
                          const std::vector<float> &logProbs) const override;

  int beamSize;
  int eotToken;
  float patience;
  int maxCandidates() const { return maxCandidates_; }
  const std::vector<float> &finishedSequences() const { return finishedSequences_; }

private:
  int maxCandidates_;
  std::vector<float> finishedSequences_;
};

} // namespace divuvovize
