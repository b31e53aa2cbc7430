#pragma once

#include "DeduveCore/Tokenizers/TokenizerWrapper.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"

#include <filesystem>
#include <optional>

namespace divuvovize {

// The speech tokenizer over a loaded general tokenizer: forwards text <-> id conversion, and
// resolves the special tokens and the language tags once at construction. A special token the
// vocabulary does not hold exactly takes its default id (SpecialTokens' defaults); it is never
// resolved through the unknown token. Immutable; safe to share between threads.
class WhisperTokenizerWrapper : public WhisperTokenizer {
public:
  explicit WhisperTokenizerWrapper(deduve::TokenizerWrapper tokenizer,
                                   std::optional<std::filesystem::path> tokenizerFolder = {});

  std::vector<int> encode(std::string_view text) const override;
  std::string decode(const std::vector<int> &tokens) const override;
  std::optional<int> convertTokenToId(std::string_view token) const override;
  std::optional<std::string> convertIdToToken(int id) const override;
  std::optional<int> vocabularyId(std::string_view token) const override;
  const SpecialTokens &specialTokens() const override { return specialTokens_; }
  const std::set<int> &allLanguageTokens() const override { return allLanguageTokens_; }

  // Splits by characters for languages written without spaces (the dominant language of the
  // text tokens is "zh", "ja", "th", "lo", "my" or "yue", exactly), by spaces otherwise. An
  // empty list gives two empty lists.
  WordTokens splitToWordTokens(const std::vector<int> &tokenIds) const override;

  // Each word is the shortest run of ids that decodes to whole characters. A run that keeps
  // decoding to U+FFFD ends as a word where the whole text holds U+FFFD at the same place (a
  // byte the vocabulary cannot complete); ids of a run left unfinished at the end are dropped.
  virtual WordTokens splitTokensOnUnicode(const std::vector<int> &tokenIds) const;
  // Joins the character words into space-separated words: a special or timestamp token, a
  // leading space, a lone punctuation character or the first word starts a new word; any
  // other piece joins the word before it.
  virtual WordTokens splitTokensOnSpaces(const std::vector<int> &tokenIds) const;

  const deduve::TokenizerWrapper &tokenizer() const { return tokenizer_; }
  const std::optional<std::filesystem::path> &tokenizerFolder() const { return tokenizerFolder_; }

protected:
  // The code of the dominant language of `text`; absent when none is recognised.
  virtual std::optional<std::string> dominantLanguage(std::string_view text) const;

private:
  deduve::TokenizerWrapper tokenizer_;
  std::optional<std::filesystem::path> tokenizerFolder_;
  SpecialTokens specialTokens_;
  std::set<int> allLanguageTokens_;
};

} // namespace divuvovize
