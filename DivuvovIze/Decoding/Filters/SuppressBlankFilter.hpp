#pragma once

#include "DivuvovIze/Decoding/Filters/LogitsFiltering.hpp"
#include "DivuvovIze/Decoding/Tokenizer/SpecialTokens.hpp"

namespace divuvovize {

// Forbids a blank start: at the first sampled position (the token count equals sampleBegin
// exactly) the whitespace and end-of-text tokens are masked; elsewhere nothing is.
class SuppressBlankFilter : public LogitsFiltering {
public:
  SuppressBlankFilter(const SpecialTokens &specialTokens, int sampleBegin);

  platform::MLMultiArray &filterLogits(platform::MLMultiArray &logits,
                                       const std::vector<int> &tokens) const override;

  const SpecialTokens &specialTokens() const { return specialTokens_; }
  int sampleBegin() const { return sampleBegin_; }

private:
  SpecialTokens specialTokens_;
  int sampleBegin_;
};

} // namespace divuvovize
