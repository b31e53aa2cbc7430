#include "DivuvovIze/Decoding/Filters/SuppressTokensFilter.hpp"

namespace divuvovize {

SuppressTokensFilter::SuppressTokensFilter(std::vector<int> suppressTokens)
    : suppressTokens_(std::move(suppressTokens)) {}

platform::MLMultiArray &SuppressTokensFilter::filterLogits(platform::MLMultiArray &logits,
                                                           const std::vector<int> &) const {
  const LogitsView view(logits);
  for (const int token : suppressTokens_) {
    view.mask(token);
  }
  return logits;
}

} // namespace divuvovize
