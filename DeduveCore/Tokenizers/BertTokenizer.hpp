#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "DeduveCore/Tokenizers/TokenizingModel.hpp"

namespace deduve {

// Splits text at white space and punctuation, optionally folding accents and case first.
class BasicTokenizer {
public:
  explicit BasicTokenizer(bool doLowerCase) : doLowerCase_(doLowerCase) {}

  bool doLowerCase() const { return doLowerCase_; }
  // Pieces kept whole, never lower-cased or split: "[UNK]", "[SEP]", "[PAD]", "[CLS]", "[MASK]".
  static const std::vector<std::string> &neverSplit();

  std::vector<std::string> tokenize(std::string_view text) const;

private:
  bool doLowerCase_;
};

// Cuts one word into vocabulary pieces by greedy longest match, continuation pieces carrying
// the "##" prefix.
class WordpieceTokenizer {
public:
  static constexpr std::string_view unkToken = "[UNK]";
  static constexpr std::size_t maxInputCharsPerWord = 100;

  // Borrows `vocab`, which must outlive this object.
  explicit WordpieceTokenizer(const TokenIdMap &vocab) : vocab_(&vocab) {}

  // Appends the pieces of `word` to `out`: nothing for an empty word, "[UNK]" for a word of
  // more than 100 characters (Unicode scalars) or one that cannot be cut into vocabulary
  // pieces. Pieces are cut at scalars.
  void tokenize(std::string_view word, std::vector<std::string> &out) const;

private:
  const TokenIdMap *vocab_;
};

// WordPiece model of BERT-family vocabularies.
//
// Reads from the tokenizer data: model.vocab, added_tokens; from the configuration:
// do_lower_case (default true), handle_chinese_chars (default true), bos_token, eos_token,
// fuse_unk (default false). Immutable after construction; safe to use from several threads.
class BertTokenizer : public TokenizingModel {
public:
  static constexpr std::size_t maxLen = 512;

  // Throws TokenizerError::missingVocab when the data has no "vocab" object in "model".
  BertTokenizer(const Config &tokenizerConfig, const Config &tokenizerData,
                const AddedTokens &addedTokens);
  BertTokenizer(const BertTokenizer &) = delete;
  BertTokenizer &operator=(const BertTokenizer &) = delete;

  std::vector<std::string> tokenize(std::string_view text) const override;

  std::optional<TokenId> convertTokenToId(std::string_view token) const override;
  std::optional<std::string> convertIdToToken(TokenId id) const override;

  bool tokenizeChineseChars() const { return tokenizeChineseChars_; }
  const TokenIdMap &vocab() const { return vocab_; }

private:
  TokenIdMap vocab_;
  std::unordered_map<TokenId, std::string> idsToTokens_;
  BasicTokenizer basicTokenizer_{true};
  WordpieceTokenizer wordpieceTokenizer_{vocab_};
  bool tokenizeChineseChars_ = true;
};

} // namespace deduve
