#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeduveCore/Tokenizers/Tokenizer.hpp"

namespace deduve {

// A tokenizer as a plain value: every operation forwards to `impl` unchanged. Copies share
// the same (immutable) tokenizer, so a wrapper may be copied and used from several threads.
class TokenizerWrapper {
public:
  // `impl` must not be null.
  explicit TokenizerWrapper(std::shared_ptr<const Tokenizer> impl);

  const std::shared_ptr<const Tokenizer> &impl() const { return impl_; }

  std::vector<std::string> tokenize(std::string_view text) const { return impl_->tokenize(text); }
  std::vector<TokenId> encode(std::string_view text) const { return impl_->encode(text); }
  std::vector<TokenId> encode(std::string_view text, bool addSpecialTokens) const {
    return impl_->encode(text, addSpecialTokens);
  }
  std::string decode(const std::vector<TokenId> &tokens) const { return impl_->decode(tokens); }
  std::string decode(const std::vector<TokenId> &tokens, bool skipSpecialTokens) const {
    return impl_->decode(tokens, skipSpecialTokens);
  }
  std::optional<TokenId> convertTokenToId(std::string_view token) const {
    return impl_->convertTokenToId(token);
  }
  std::vector<std::optional<TokenId>>
  convertTokensToIds(const std::vector<std::string> &tokens) const {
    return impl_->convertTokensToIds(tokens);
  }
  std::optional<std::string> convertIdToToken(TokenId id) const {
    return impl_->convertIdToToken(id);
  }
  std::vector<std::optional<std::string>>
  convertIdsToTokens(const std::vector<TokenId> &ids) const {
    return impl_->convertIdsToTokens(ids);
  }
  std::optional<std::string> bosToken() const { return impl_->bosToken(); }
  std::optional<TokenId> bosTokenId() const { return impl_->bosTokenId(); }
  std::optional<std::string> eosToken() const { return impl_->eosToken(); }
  std::optional<TokenId> eosTokenId() const { return impl_->eosTokenId(); }
  std::optional<std::string> unknownToken() const { return impl_->unknownToken(); }
  std::optional<TokenId> unknownTokenId() const { return impl_->unknownTokenId(); }

private:
  std::shared_ptr<const Tokenizer> impl_;
};

} // namespace deduve
