#pragma once

#include "DivuvovIze/Decoding/Tokenizer/SpecialTokens.hpp"

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace divuvovize {

// Words of a token list: each word's text and the ids that make it, parallel lists.
struct WordTokens {
  std::vector<std::string> words;
  std::vector<std::vector<int>> wordTokens;

  bool operator==(const WordTokens &) const = default;
};

// The speech models' tokenizer as the decoder, the filters and the seeker see it.
// Implementations are immutable after construction and safe to share between threads.
class WhisperTokenizer {
public:
  virtual ~WhisperTokenizer() = default;

  virtual std::vector<int> encode(std::string_view text) const = 0;
  // Every id given is decoded, special tokens included.
  virtual std::string decode(const std::vector<int> &tokens) const = 0;
  virtual std::optional<int> convertTokenToId(std::string_view token) const = 0;
  virtual std::optional<std::string> convertIdToToken(int id) const = 0;
  // The id of `token` when the vocabulary holds exactly that token; never another token's id
  // (the speech vocabulary maps unknown text to "<|endoftext|>").
  virtual std::optional<int> vocabularyId(std::string_view token) const = 0;
  virtual const SpecialTokens &specialTokens() const = 0;
  // Ids of the language tags ("<|en|>", "<|fr|>", ...) the vocabulary holds.
  virtual const std::set<int> &allLanguageTokens() const = 0;
  // Groups the ids into words; special and timestamp tokens start words of their own.
  virtual WordTokens splitToWordTokens(const std::vector<int> &tokenIds) const = 0;
};

} // namespace divuvovize
