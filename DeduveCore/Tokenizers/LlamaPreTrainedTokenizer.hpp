#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeduveCore/Tokenizers/PreTrainedTokenizer.hpp"

namespace deduve {

// The tokenizer of Llama-style vocabularies. Unless the configuration says "legacy" (the
// default), the document's normalizer is replaced by a Metaspace pre-tokenizer that marks only
// the first section with "▁", and the text's own "▁" characters are read as spaces. Unless the
// document already has a template post-processor, one is built from add_bos_token /
// add_eos_token and the bos/eos token texts.
class LlamaPreTrainedTokenizer : public PreTrainedTokenizer {
public:
  // Throws TokenizerError::mismatchedConfig when add_bos_token (add_eos_token) is true without
  // a bos_token (eos_token), and whatever PreTrainedTokenizer throws.
  LlamaPreTrainedTokenizer(const Config &tokenizerConfig, const Config &tokenizerData, bool strict);

  std::vector<std::string> tokenize(std::string_view text) const override;

  bool isLegacy() const { return isLegacy_; }

  // The tokenizer data with the Llama adaptations applied (see the class comment).
  static Config adaptedTokenizerData(const Config &tokenizerConfig, const Config &tokenizerData);

  // The template post-processor document for the configuration's bos/eos settings, or nothing
  // when `postProcessorConfig` already describes a template post-processor.
  static std::optional<Config> updatePostProcessor(const Config &tokenizerConfig,
                                                   const Config &postProcessorConfig);

private:
  bool isLegacy_;
};

} // namespace deduve
