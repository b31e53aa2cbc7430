#pragma once

#include "DeduveCore/Support/KeyedHash.hpp"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace deduve {

class Config;

// Token ids and merge ranks of every tokenizer.
using TokenId = std::int64_t;

// Hash that lets string-keyed maps be searched with a std::string_view without a copy.
// Deliberately not noexcept: the standard library then keeps each key's hash in its node, as
// it does for std::hash<std::string>, instead of hashing again the keys it meets in a bucket
// at every lookup, which shows when vocabularies of 200,000 tokens are built. Keyed per process,
// as the keys come from outside documents (see KeyedHash.hpp).
struct TransparentStringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return keyedHash(text); }
};

// Text -> id map of a vocabulary. Keys are UTF-8 and compare byte for byte, which is the same
// as comparing their UTF-16 code units: no Unicode canonical equivalence.
using TokenIdMap = std::unordered_map<std::string, TokenId, TransparentStringHash, std::equal_to<>>;

// The added tokens of a tokenizer document: content -> id.
using AddedTokens = TokenIdMap;

// The special tokens a model knows, set once by its constructor.
struct SpecialTokens {
  std::optional<std::string> bosToken;
  std::optional<TokenId> bosTokenId;
  std::optional<std::string> eosToken;
  std::optional<TokenId> eosTokenId;
  std::optional<std::string> unknownToken;
  std::optional<TokenId> unknownTokenId;
  // Whether the tokenizer collapses each run of unknown tokens into its first token.
  bool fuseUnknownTokens = false;
};

// A tokenizing model turns one pre-tokenized word into tokens and maps tokens to ids and
// back. Models are immutable after construction and safe to use from several threads.
class TokenizingModel {
public:
  virtual ~TokenizingModel() = default;

  virtual std::vector<std::string> tokenize(std::string_view text) const = 0;
  std::vector<std::string> operator()(std::string_view text) const { return tokenize(text); }
  // Appends tokenize(text) to `out`. The tokenizer calls this once per word, so models on the
  // main road override it to spare the list that tokenize() returns.
  virtual void tokenizeInto(std::string_view text, std::vector<std::string> &out) const;

  virtual std::optional<TokenId> convertTokenToId(std::string_view token) const = 0;
  virtual std::optional<std::string> convertIdToToken(TokenId id) const = 0;

  const SpecialTokens &specialTokens() const { return special_; }
  const std::optional<std::string> &bosToken() const { return special_.bosToken; }
  std::optional<TokenId> bosTokenId() const { return special_.bosTokenId; }
  const std::optional<std::string> &eosToken() const { return special_.eosToken; }
  std::optional<TokenId> eosTokenId() const { return special_.eosTokenId; }
  const std::optional<std::string> &unknownToken() const { return special_.unknownToken; }
  std::optional<TokenId> unknownTokenId() const { return special_.unknownTokenId; }
  // Whether the tokenizer collapses each run of unknown tokens into its first token.
  bool fuseUnknownTokens() const { return special_.fuseUnknownTokens; }

protected:
  // Set by each model's constructor; never changed afterwards.
  SpecialTokens special_;
};

// A model that the model factory can build from the tokenizer configuration, the tokenizer
// data and the added-token map. Construction throws TokenizerError when the documents lack
// what the model needs.
template <typename Model>
concept PreTrainedTokenizerModel = std::derived_from<Model, TokenizingModel> &&
    std::constructible_from<Model, const Config &, const Config &, const AddedTokens &>;

// The added-token text of a document value: a string is the text; otherwise its "content"
// member when that is a string; otherwise nothing.
std::optional<std::string> addedTokenContent(const Config &value);

// The unknown-token text of a tokenizer configuration: "unk_token"'s "content" when that is a
// string, else "unk_token" itself when it is a string, else nothing.
std::optional<std::string> unknownTokenText(const Config &tokenizerConfig);

} // namespace deduve
