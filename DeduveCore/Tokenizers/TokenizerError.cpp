#include "DeduveCore/Tokenizers/TokenizerError.hpp"

#include <utility>

namespace deduve {
namespace {

std::string messageFor(TokenizerError::Kind kind, const std::string &detail) {
  using Kind = TokenizerError::Kind;
  switch (kind) {
  case Kind::unsupportedTokenizer:
    return "The tokenizer type '" + detail + "' is not supported.";
  case Kind::tooLong:
    return "Input is too long: " + detail;
  case Kind::mismatchedConfig:
    return "Tokenizer configuration mismatch: " + detail;
  case Kind::missingConfig:
    return "Tokenizer configuration is missing.";
  case Kind::missingTokenizerClassInConfig:
    return "The tokenizer class is not specified in the configuration.";
  case Kind::missingVocab:
    return "Vocabulary file is missing from the tokenizer configuration.";
  case Kind::malformedVocab:
    return "The vocabulary file is malformed or corrupted.";
  }
  return {};
}

} // namespace

TokenizerError::TokenizerError(Kind kind, std::string detail)
    : kind_(kind), detail_(std::move(detail)), message_(messageFor(kind_, detail_)) {}

TokenizerError TokenizerError::unsupportedTokenizer(std::string name) {
  return {Kind::unsupportedTokenizer, std::move(name)};
}
TokenizerError TokenizerError::tooLong(std::string text) {
  return {Kind::tooLong, std::move(text)};
}
TokenizerError TokenizerError::mismatchedConfig(std::string text) {
  return {Kind::mismatchedConfig, std::move(text)};
}
TokenizerError TokenizerError::missingConfig() { return {Kind::missingConfig, {}}; }
TokenizerError TokenizerError::missingTokenizerClassInConfig() {
  return {Kind::missingTokenizerClassInConfig, {}};
}
TokenizerError TokenizerError::missingVocab() { return {Kind::missingVocab, {}}; }
TokenizerError TokenizerError::malformedVocab() { return {Kind::malformedVocab, {}}; }

} // namespace deduve
