#include "DivuvovIze/Decoding/Filters/TimestampRulesFilter.hpp"

#include "DivuvovIze/Decoding/Filters/LogitsMath.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace divuvovize {

TimestampRulesFilter::TimestampRulesFilter(const SpecialTokens &specialTokens, int sampleBegin,
                                           std::optional<int> maxInitialTimestampIndex,
                                           bool isModelMultilingual)
    : specialTokens_(specialTokens), sampleBegin_(sampleBegin),
      maxInitialTimestampIndex_(maxInitialTimestampIndex),
      isModelMultilingual_(isModelMultilingual) {}

std::optional<int>
TimestampRulesFilter::effectiveSampleBegin(const std::vector<int> &tokens) const {
  if (!isModelMultilingual_) {
    return sampleBegin_;
  }
  const std::size_t first = std::min<std::size_t>(tokens.size(), 3);
  for (std::size_t i = 0; i < first; ++i) {
    if (tokens[i] == specialTokens_.transcribeToken || tokens[i] == specialTokens_.translateToken) {
      return std::max(static_cast<int>(i) + 1, sampleBegin_);
    }
  }
  return std::nullopt;
}

bool TimestampRulesFilter::timestampsMoreProbable(const LogitsView &view) const {
  // Both sides of the comparison are log-softmax values over the same vocabulary, so the
  // normaliser cancels: compare the timestamps' log-sum-exp with the best text logit.
  constexpr float kNegativeInfinity = -std::numeric_limits<float>::infinity();
  const int timeBegin = std::clamp(specialTokens_.timeTokenBegin, 0, view.count);
  float maxText = kNegativeInfinity;
  float maxTime = kNegativeInfinity;
  float sum = 0;
  if (view.stride == 1) {
    const auto timeCount = static_cast<std::size_t>(view.count - timeBegin);
    maxText = logitsmath::maxValue(view.data, static_cast<std::size_t>(timeBegin));
    maxTime = logitsmath::maxValue(view.data + timeBegin, timeCount);
    if (maxTime == kNegativeInfinity) {
      return false;
    }
    sum = logitsmath::sumExp(view.data + timeBegin, timeCount, 1.0f, maxTime);
  } else {
    for (int id = 0; id < timeBegin; ++id) {
      maxText = std::max(maxText, view[id]);
    }
    for (int id = timeBegin; id < view.count; ++id) {
      maxTime = std::max(maxTime, view[id]);
    }
    if (maxTime == kNegativeInfinity) {
      return false;
    }
    for (int id = timeBegin; id < view.count; ++id) {
      sum += std::exp(view[id] - maxTime);
    }
  }
  const float timestampLogSumExp = maxTime + std::log(sum);
  return timestampLogSumExp > maxText;
}

platform::MLMultiArray &TimestampRulesFilter::filterLogits(platform::MLMultiArray &logits,
                                                           const std::vector<int> &tokens) const {
  const auto begin = effectiveSampleBegin(tokens);
  const long count = static_cast<long>(tokens.size());
  if (!begin || count < *begin) {
    return logits;
  }
  const LogitsView view(logits);
  if (view.count == 0) {
    return logits;
  }
  const int timeBegin = specialTokens_.timeTokenBegin;
  view.mask(specialTokens_.noTimestampsToken);

  bool lastWasTimestamp = false;
  bool penultimateWasTimestamp = false;
  if (count > *begin) {
    lastWasTimestamp = tokens.back() >= timeBegin;
    penultimateWasTimestamp = count - *begin < 2 || tokens[tokens.size() - 2] >= timeBegin;
    if (lastWasTimestamp) {
      if (penultimateWasTimestamp) {
        view.mask(timeBegin, view.count);
      } else {
        view.mask(0, specialTokens_.endToken);
      }
    }
  }

  for (long i = count - 1; i >= *begin; --i) {
    const int token = tokens[static_cast<std::size_t>(i)];
    if (token >= timeBegin) {
      const bool reopenAllowed = lastWasTimestamp && !penultimateWasTimestamp;
      view.mask(timeBegin, reopenAllowed ? token : token + 1);
      break;
    }
  }

  if (timestampsMoreProbable(view)) {
    view.mask(0, timeBegin);
  }
  return logits;
}

} // namespace divuvovize
