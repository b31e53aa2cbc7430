#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/MergeTable.hpp"
#include "DeduveCore/Tokenizers/SymbolTable.hpp"
#include "DeduveCore/Tokenizers/TokenizingModel.hpp"

namespace deduve {

// The left and right symbol of a merge. Equal when both texts are equal byte for byte.
struct BytePair {
  std::string a;
  std::string b;
  friend bool operator==(const BytePair &, const BytePair &) = default;
};

struct BytePairHash {
  std::size_t operator()(const BytePair &pair) const noexcept {
    const std::size_t first = std::hash<std::string>{}(pair.a);
    return first ^
           (std::hash<std::string>{}(pair.b) + 0x9e3779b97f4a7c15ULL + (first << 6) + (first >> 2));
  }
};

// Byte-pair encoding model: merges the characters of a word by rank, then maps the merged
// symbols to vocabulary ids; symbols outside the vocabulary become byte tokens "<0xHH>".
//
// Reads from the tokenizer data: model.merges (strings "a b" or [a, b] arrays), model.vocab;
// from the configuration: unk_token, bos_token, eos_token, fuse_unk.
// Immutable after construction; safe to use from several threads at once.
class BPETokenizer final : public TokenizingModel {
public:
  // Throws TokenizerError::mismatchedConfig("BPETokenizer requires merges") without a merges
  // array and TokenizerError::missingVocab without a vocab dictionary.
  BPETokenizer(const Config &tokenizerConfig, const Config &tokenizerData,
               const AddedTokens &addedTokens);
  // Not copied: idsToTokens_ views the texts of tokensToIds_.
  BPETokenizer(const BPETokenizer &) = delete;
  BPETokenizer &operator=(const BPETokenizer &) = delete;

  // The word's merged symbols joined with single spaces. Symbols start as the word's Unicode
  // scalars (not grapheme clusters: the vocabularies were trained on scalars); a word of at
  // most one scalar comes back unchanged.
  std::string bpe(std::string_view token) const;

  std::vector<std::string> tokenize(std::string_view text) const override;
  void tokenizeInto(std::string_view text, std::vector<std::string> &out) const override;

  // The rank of a merge pair (lower merges first), if it is one.
  std::optional<TokenId> rank(const BytePair &pair) const;

  std::optional<TokenId> convertTokenToId(std::string_view token) const override;
  std::optional<std::string> convertIdToToken(TokenId id) const override;

  const TokenIdMap &tokensToIds() const { return tokensToIds_; }

private:
  // One symbol of a word being merged: a byte range of the word and its symbol id (-1 for a
  // text that appears in no merge).
  struct Symbol {
    std::int32_t id;
    std::size_t begin;
    std::size_t end;
  };
  // Single scalars below this get their symbol id from a direct table, not a hash lookup.
  static constexpr char32_t kDirectScalars = 0x3000;
  // Vocabulary facts of a symbol, so that merged symbols need no second lookup by text.
  struct SymbolToken {
    std::optional<TokenId> id; // vocabulary id of the symbol's text
    bool hasSpace = false;     // the text holds U+0020 and must be cut
  };

  // Fill symbols_ and merges_ from the merges, and tokensToIds_ and idsToTokens_ from the
  // vocabulary and the added tokens; the two touch no common member.
  void readMerges(const Config::Array &merges);
  void readVocabulary(const Config::Dictionary &vocab, const AddedTokens &addedTokens);
  std::int32_t symbolId(std::string_view text) const;
  std::int32_t internSymbol(std::string_view text);
  void mergeWord(std::string_view word, std::vector<Symbol> &symbols) const;
  // Merging by passes rescans every pair per pass; words longer than this merge through a
  // queue of pairs instead, with the same result, so a long run of letters stays near-linear.
  static constexpr std::size_t kQueuedMergeLength = 32;
  void mergeQueued(std::vector<Symbol> &symbols) const;
  void appendToken(std::string_view part, std::optional<TokenId> id,
                   std::vector<std::string> &tokens) const;

  SymbolTable symbols_;                     // every text of a merge: its two parts and their join
  std::vector<std::int32_t> directSymbols_; // scalar -> symbol id, -1 when none
  std::vector<SymbolToken> symbolTokens_;   // by symbol id
  MergeTable merges_;
  TokenIdMap tokensToIds_;
  // Views of the keys of tokensToIds_, whose nodes never move: one copy of each token text.
  std::unordered_map<TokenId, std::string_view> idsToTokens_;
};

} // namespace deduve
