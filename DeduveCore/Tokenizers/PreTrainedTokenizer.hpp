#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/AddedTokenMatcher.hpp"
#include "DeduveCore/Tokenizers/Decoder.hpp"
#include "DeduveCore/Tokenizers/Normalizer.hpp"
#include "DeduveCore/Tokenizers/PostProcessor.hpp"
#include "DeduveCore/Tokenizers/PreTokenizer.hpp"
#include "DeduveCore/Tokenizers/Tokenizer.hpp"
#include "DeduveCore/Tokenizers/TokenizingModel.hpp"

namespace deduve {

// The tokenizer built from a model's two tokenizer documents: the configuration
// (tokenizer_config.json) and the data (tokenizer.json). Added tokens are cut out of the text
// first and pass through whole; every other piece goes through the normalizer, the
// pre-tokenizer and the model. Encoding ends with the post-processor, decoding with the
// decoder and the clean-up of spaces before punctuation.
//
// Immutable after construction; safe to use from several threads at once.
class PreTrainedTokenizer : public Tokenizer {
public:
  // Throws TokenizerError (no or unsupported tokenizer class, missing or malformed vocabulary)
  // and StageConfigurationError (a stage document that cannot be built).
  PreTrainedTokenizer(const Config &tokenizerConfig, const Config &tokenizerData, bool strict);

  using Tokenizer::decode;
  using Tokenizer::encode;

  std::vector<std::string> tokenize(std::string_view text) const override;
  // Throws TokenizerError::mismatchedConfig when a token has no id (a vocabulary without an
  // unknown token).
  std::vector<TokenId> encode(std::string_view text, bool addSpecialTokens) const override;
  // Ids without a token are dropped.
  std::string decode(const std::vector<TokenId> &tokens, bool skipSpecialTokens) const override;

  // The pre-tokenizer's words, or the text itself when there is no pre-tokenizer.
  virtual std::vector<std::string> preTokenize(std::string_view text,
                                               PreTokenizerOptions options) const;
  // Removes the space before ".", "?", "!", ",", "'" and English contractions, when the
  // configuration's clean_up_tokenization_spaces is on.
  virtual std::string cleanUp(std::string_view text) const;
  // Keeps only the first token of each run of unknown tokens, when the model asks for it.
  virtual std::vector<std::string> fuseUnknown(std::vector<std::string> tokens) const;

  std::optional<TokenId> convertTokenToId(std::string_view token) const override;
  std::optional<std::string> convertIdToToken(TokenId id) const override;
  std::optional<std::string> bosToken() const override;
  std::optional<TokenId> bosTokenId() const override;
  std::optional<std::string> eosToken() const override;
  std::optional<TokenId> eosTokenId() const override;
  std::optional<std::string> unknownToken() const override;
  std::optional<TokenId> unknownTokenId() const override;

  const TokenizingModel &model() const { return *model_; }
  const std::unordered_set<std::string> &addedTokens() const { return addedTokens_; }
  const TokenIdMap &specialTokens() const { return specialTokens_; }
  // What finds the added tokens in a text (a literal search over all their contents, in place
  // of one regular-expression alternation: as fast with thousands of tokens as with one);
  // absent without added tokens.
  const AddedTokenMatcher *addedTokenMatcher() const {
    return addedTokenMatcher_ ? &*addedTokenMatcher_ : nullptr;
  }
  const PreTokenizer *preTokenizer() const { return preTokenizer_.get(); }
  const Normalizer *normalizer() const { return normalizer_.get(); }
  const PostProcessor *postProcessor() const { return postProcessor_.get(); }
  const Decoder *decoder() const { return decoder_.get(); }
  const Config &tokenizerConfig() const { return tokenizerConfig_; }
  bool cleanUpTokenizationSpaces() const { return cleanUpTokenizationSpaces_; }

private:
  std::unique_ptr<TokenizingModel> model_;
  std::unordered_set<std::string> addedTokens_;
  TokenIdMap specialTokens_;
  std::unordered_set<TokenId> specialTokenIds_;
  std::optional<AddedTokenMatcher> addedTokenMatcher_;
  std::unique_ptr<PreTokenizer> preTokenizer_;
  std::unique_ptr<Normalizer> normalizer_;
  std::unique_ptr<PostProcessor> postProcessor_;
  std::unique_ptr<Decoder> decoder_;
  Config tokenizerConfig_;
  bool cleanUpTokenizationSpaces_ = true;
};

} // namespace deduve
