#include "DivuvovIze/Decoding/Sampling/BeamSearchTokenSampler.hpp"

#include "DeduveCore/Support/Description.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"

#include <cmath>

namespace divuvovize {
namespace {

int candidatesFor(int beamSize, float patience) {
  const float product = static_cast<float>(beamSize) * patience;
  if (!(product >= 1.0f)) {
    throw WhisperError::decodingFailed("Invalid beam size " + std::to_string(beamSize) +
                                       " or patience " + deduve::formatFloat(patience));
  }
  return product >= 2147483647.0f ? 2147483647 : static_cast<int>(product);
}

} // namespace

BeamSearchTokenSampler::BeamSearchTokenSampler(int beamSize, int eotToken, float patience)
    : beamSize(beamSize), eotToken(eotToken), patience(patience),
      maxCandidates_(candidatesFor(beamSize, patience)) {}

void BeamSearchTokenSampler::reset() { finishedSequences_.clear(); }

void BeamSearchTokenSampler::update(SamplingResult &, const platform::MLMultiArray &) {
  throw WhisperError::decodingFailed("Not implemented: update(tokens:logits:logProbs:)");
}

SamplingResult BeamSearchTokenSampler::finalize(const std::vector<int> &,
                                                const std::vector<float> &) const {
  throw WhisperError::decodingFailed("Not implemented: finalize(tokens:logProbs:)");
}

} // namespace divuvovize
