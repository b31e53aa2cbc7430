#pragma once

#include "DivuvovIze/Decoding/Filters/LogitsFiltering.hpp"
#include "DivuvovIze/Decoding/Tokenizer/SpecialTokens.hpp"

#include <optional>

namespace divuvovize {

// The grammar of timestamp tokens, applied from the first sampled position on:
// - the no-timestamps token is never sampled;
// - timestamps come in pairs: after a closed pair text must follow, after an opening timestamp
//   only a timestamp or end-of-text;
// - timestamps never go back (the last one may be repeated only to close its pair);
// - when the timestamps together are more probable than the most probable text token, a
//   timestamp must be chosen.
// For a multilingual model sampling begins after the task token, which must be among the first
// three tokens; without one the logits are left as they are. Two passes over the text logits
// and two over the timestamp logits per call, no allocation.
class TimestampRulesFilter : public LogitsFiltering {
public:
  TimestampRulesFilter(const SpecialTokens &specialTokens, int sampleBegin,
                       std::optional<int> maxInitialTimestampIndex, bool isModelMultilingual);

  platform::MLMultiArray &filterLogits(platform::MLMultiArray &logits,
                                       const std::vector<int> &tokens) const override;

  const SpecialTokens &specialTokens() const { return specialTokens_; }
  int sampleBegin() const { return sampleBegin_; }
  // Kept for the caller; no rule reads it.
  std::optional<int> maxInitialTimestampIndex() const { return maxInitialTimestampIndex_; }
  bool isModelMultilingual() const { return isModelMultilingual_; }

private:
  // Where sampling begins in `tokens`; absent when a multilingual prompt has no task token.
  std::optional<int> effectiveSampleBegin(const std::vector<int> &tokens) const;
  // Whether the timestamps' total log-probability exceeds the best text token's.
  bool timestampsMoreProbable(const LogitsView &view) const;

  SpecialTokens specialTokens_;
  int sampleBegin_;
  std::optional<int> maxInitialTimestampIndex_;
  bool isModelMultilingual_;
};

} // namespace divuvovize
