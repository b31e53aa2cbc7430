#pragma once

#include "DivuvovIze/Decoding/Filters/LogitsFiltering.hpp"

#include <set>
#include <utility>

namespace divuvovize {

// Leaves only language tokens to choose from: once the token count reaches sampleBegin, every
// id in 0 ..< logitsDim that is not a language token is masked. The masked ids are worked out
// once, as ranges between the language tokens.
class LanguageLogitsFilter : public LogitsFiltering {
public:
  LanguageLogitsFilter(std::set<int> allLanguageTokens, int logitsDim, int sampleBegin);

  platform::MLMultiArray &filterLogits(platform::MLMultiArray &logits,
                                       const std::vector<int> &tokens) const override;

  const std::set<int> &allLanguageTokens() const { return allLanguageTokens_; }
  int logitsDim() const { return logitsDim_; }
  int sampleBegin() const { return sampleBegin_; }
  // The masked ids as ascending half-open ranges [lower, upper).
  const std::vector<std::pair<int, int>> &nonLanguageTokenRanges() const {
    return nonLanguageTokenRanges_;
  }

private:
  std::set<int> allLanguageTokens_;
  int logitsDim_;
  int sampleBegin_;
  std::vector<std::pair<int, int>> nonLanguageTokenRanges_;
};

} // namespace divuvovize
