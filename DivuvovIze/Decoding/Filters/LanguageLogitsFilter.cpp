#include "DivuvovIze/Decoding/Filters/LanguageLogitsFilter.hpp"

namespace divuvovize {

LanguageLogitsFilter::LanguageLogitsFilter(std::set<int> allLanguageTokens, int logitsDim,
                                           int sampleBegin)
    : allLanguageTokens_(std::move(allLanguageTokens)), logitsDim_(logitsDim),
      sampleBegin_(sampleBegin) {
  int lower = 0;
  for (const int language : allLanguageTokens_) {
    if (language < 0) {
      continue;
    }
    if (language >= logitsDim_) {
      break;
    }
    if (lower < language) {
      nonLanguageTokenRanges_.emplace_back(lower, language);
    }
    lower = language + 1;
  }
  if (lower < logitsDim_) {
    nonLanguageTokenRanges_.emplace_back(lower, logitsDim_);
  }
}

platform::MLMultiArray &LanguageLogitsFilter::filterLogits(platform::MLMultiArray &logits,
                                                           const std::vector<int> &tokens) const {
  if (static_cast<long>(tokens.size()) >= sampleBegin_) {
    const LogitsView view(logits);
    for (const auto &[lower, upper] : nonLanguageTokenRanges_) {
      view.mask(lower, upper);
    }
  }
  return logits;
}

} // namespace divuvovize
