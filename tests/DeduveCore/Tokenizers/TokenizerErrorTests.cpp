#include "DeduveCore/Tokenizers/TokenizerError.hpp"

#include <gtest/gtest.h>

namespace deduve {
namespace {

TEST(TokenizerErrorTests, EachCaseHasItsFixedMessage) {
  struct Case {
    TokenizerError error;
    TokenizerError::Kind kind;
    const char *message;
  };
  const Case cases[] = {
      {TokenizerError::unsupportedTokenizer("FooTokenizer"),
       TokenizerError::Kind::unsupportedTokenizer,
       "The tokenizer type 'FooTokenizer' is not supported."},
      {TokenizerError::tooLong("abc"), TokenizerError::Kind::tooLong, "Input is too long: abc"},
      {TokenizerError::mismatchedConfig("no merges"), TokenizerError::Kind::mismatchedConfig,
       "Tokenizer configuration mismatch: no merges"},
      {TokenizerError::missingConfig(), TokenizerError::Kind::missingConfig,
       "Tokenizer configuration is missing."},
      {TokenizerError::missingTokenizerClassInConfig(),
       TokenizerError::Kind::missingTokenizerClassInConfig,
       "The tokenizer class is not specified in the configuration."},
      {TokenizerError::missingVocab(), TokenizerError::Kind::missingVocab,
       "Vocabulary file is missing from the tokenizer configuration."},
      {TokenizerError::malformedVocab(), TokenizerError::Kind::malformedVocab,
       "The vocabulary file is malformed or corrupted."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(c.error.kind(), c.kind);
    EXPECT_STREQ(c.error.what(), c.message);
    EXPECT_EQ(c.error.errorDescription(), c.message);
  }
  EXPECT_EQ(TokenizerError::unsupportedTokenizer("A"), TokenizerError::unsupportedTokenizer("A"));
  EXPECT_FALSE(TokenizerError::unsupportedTokenizer("A") ==
               TokenizerError::unsupportedTokenizer("B"));
}

TEST(TokenizerErrorTests, IsCaughtAsAStandardException) {
  try {
    throw TokenizerError::missingVocab();
  } catch (const std::exception &error) {
    EXPECT_STREQ(error.what(), "Vocabulary file is missing from the tokenizer configuration.");
  }
}

} // namespace
} // namespace deduve
