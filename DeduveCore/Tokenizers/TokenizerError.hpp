#pragma once

#include <exception>
#include <string>

namespace deduve {

// The one error of the tokenizers: a tokenizer document lacks what a model or loader needs, or
// names what cannot be built. what() is the fixed English message of the case; detail() holds
// the text a case carries (empty for the others).
class TokenizerError : public std::exception {
public:
  enum class Kind {
    unsupportedTokenizer,
    tooLong,
    mismatchedConfig,
    missingConfig,
    missingTokenizerClassInConfig,
    missingVocab,
    malformedVocab,
  };

  static TokenizerError unsupportedTokenizer(std::string name);
  static TokenizerError tooLong(std::string text);
  static TokenizerError mismatchedConfig(std::string text);
  static TokenizerError missingConfig();
  static TokenizerError missingTokenizerClassInConfig();
  static TokenizerError missingVocab();
  static TokenizerError malformedVocab();

  Kind kind() const noexcept { return kind_; }
  const std::string &detail() const noexcept { return detail_; }
  // The message as it is shown to a user.
  const std::string &errorDescription() const noexcept { return message_; }
  const char *what() const noexcept override { return message_.c_str(); }

  friend bool operator==(const TokenizerError &a, const TokenizerError &b) {
    return a.kind_ == b.kind_ && a.detail_ == b.detail_;
  }

private:
  TokenizerError(Kind kind, std::string detail);

  Kind kind_;
  std::string detail_;
  std::string message_;
};

} // namespace deduve
