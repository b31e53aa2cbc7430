#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeduveCore/Tokenizers/TokenizingModel.hpp"

namespace deduve {

// Text to token ids and back. Implementations are immutable after construction and safe to
// use from several threads at once.
class Tokenizer {
public:
  virtual ~Tokenizer() = default;

  virtual std::vector<std::string> tokenize(std::string_view text) const = 0;

  // Special tokens are added (by the post-processor) unless asked otherwise.
  std::vector<TokenId> encode(std::string_view text) const {
    return encode(text, /*addSpecialTokens=*/true);
  }
  virtual std::vector<TokenId> encode(std::string_view text, bool addSpecialTokens) const = 0;

  std::string decode(const std::vector<TokenId> &tokens) const {
    return decode(tokens, /*skipSpecialTokens=*/false);
  }
  virtual std::string decode(const std::vector<TokenId> &tokens, bool skipSpecialTokens) const = 0;

  virtual std::optional<TokenId> convertTokenToId(std::string_view token) const = 0;
  virtual std::vector<std::optional<TokenId>>
  convertTokensToIds(const std::vector<std::string> &tokens) const;
  virtual std::optional<std::string> convertIdToToken(TokenId id) const = 0;
  virtual std::vector<std::optional<std::string>>
  convertIdsToTokens(const std::vector<TokenId> &ids) const;

  virtual std::optional<std::string> bosToken() const = 0;
  virtual std::optional<TokenId> bosTokenId() const = 0;
  virtual std::optional<std::string> eosToken() const = 0;
  virtual std::optional<TokenId> eosTokenId() const = 0;
  virtual std::optional<std::string> unknownToken() const = 0;
  virtual std::optional<TokenId> unknownTokenId() const = 0;
};

} // namespace deduve
