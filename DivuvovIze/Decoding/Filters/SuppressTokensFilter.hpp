#pragma once

#include "DivuvovIze/Decoding/Filters/LogitsFiltering.hpp"

namespace divuvovize {

// Always forbids a fixed list of tokens. Ids outside the vocabulary are skipped.
class SuppressTokensFilter : public LogitsFiltering {
public:
  explicit SuppressTokensFilter(std::vector<int> suppressTokens);

  platform::MLMultiArray &filterLogits(platform::MLMultiArray &logits,
                                       const std::vector<int> &tokens) const override;

  const std::vector<int> &suppressTokens() const { return suppressTokens_; }

private:
  std::vector<int> suppressTokens_;
};

} // namespace divuvovize
