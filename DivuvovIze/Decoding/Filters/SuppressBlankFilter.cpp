#include "DivuvovIze/Decoding/Filters/SuppressBlankFilter.hpp"

namespace divuvovize {

SuppressBlankFilter::SuppressBlankFilter(const SpecialTokens &specialTokens, int sampleBegin)
    : specialTokens_(specialTokens), sampleBegin_(sampleBegin) {}

platform::MLMultiArray &SuppressBlankFilter::filterLogits(platform::MLMultiArray &logits,
                                                          const std::vector<int> &tokens) const {
  if (static_cast<long>(tokens.size()) == sampleBegin_) {
    const LogitsView view(logits);
    view.mask(specialTokens_.whitespaceToken);
    view.mask(specialTokens_.endToken);
  }
  return logits;
}

} // namespace divuvovize
