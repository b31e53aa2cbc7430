#include "DeduveCore/Tokenizers/AddedTokenMatcher.hpp"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeduveCore/Text/Regex.hpp"
#include "DeduveCore/Tokenizers/StringSplitting.hpp"

namespace deduve {
namespace {

using Texts = std::vector<std::string>;
using Token = AddedTokenMatcher::Token;

Texts split(const AddedTokenMatcher &matcher, std::string_view text) {
  Texts pieces;
  matcher.split(text, pieces);
  return pieces;
}

TEST(AddedTokenMatcher, CutsTokensOutHonouringTheirFlags) {
  struct Case {
    const char *name;
    std::vector<Token> tokens;
    std::string text;
    Texts pieces;
  };
  const Case cases[] = {
      {"longest first whatever the order",
       {{"<|a|>"}, {"<|ab|>"}},
       "x<|ab|>y<|a|>",
       {"x", "<|ab|>", "y", "<|a|>"}},
      {"leftmost wins over longer", {{"bc"}, {"abcd"}}, "xabcbc", {"xa", "bc", "bc"}},
      {"equal lengths keep document order", {{"ab"}, {"bc"}}, "abc", {"ab", "c"}},
      {"lstrip takes the white space before", {{"<s>", true}}, "hi \t <s>x", {"hi", "<s>", "x"}},
      {"lstrip takes Unicode white space", {{"<s>", true}}, "hi\u3000<s>", {"hi", "<s>"}},
      {"rstrip takes the white space after",
       {{"<s>", false, true}},
       "a<s> \n b",
       {"a", "<s>", "b"}},
      {"without strip the white space stays", {{"<s>"}}, "a <s> b", {"a ", "<s>", " b"}},
      {"single word inside a word",
       {{"ab", false, false, true}},
       "xab ab abx ab",
       {"xab ", "ab", " abx ", "ab"}},
      {"single word next to punctuation", {{"ab", false, false, true}}, "(ab)", {"(", "ab", ")"}},
      {"single word of punctuation", {{"<>", false, false, true}}, "a<>b", {"a", "<>", "b"}},
      {"empty content is ignored", {{""}, {"b"}}, "abc", {"a", "b", "c"}},
      {"no match", {{"<s>"}}, "plain", {"plain"}},
      {"empty text", {{"<s>"}}, "", {}},
      {"adjacent tokens", {{"<s>", true, true}}, "<s><s>  <s>", {"<s>", "<s>", "<s>"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(split(AddedTokenMatcher(c.tokens), c.text), c.pieces);
  }
}

// The alternation the matcher stands for, as a regular expression.
Regex alternation(const std::vector<Token> &tokens) {
  std::vector<Token> sorted = tokens;
  std::stable_sort(sorted.begin(), sorted.end(), [](const Token &a, const Token &b) {
    return a.content.size() > b.content.size(); // ASCII: bytes are clusters
  });
  std::string pattern;
  for (const Token &token : sorted) {
    if (!pattern.empty())
      pattern += '|';
    pattern += token.lstrip ? R"(\s*()" : "(";
    pattern += Regex::escape(token.content);
    pattern += token.rstrip ? R"()\s*)" : ")";
  }
  return Regex(pattern);
}

TEST(AddedTokenMatcher, AgreesWithTheRegularExpressionAlternation) {
  std::mt19937 random(5);
  const std::string alphabet = "ab<> ";
  const auto randomText = [&](int maximum) {
    std::string text;
    const int length = static_cast<int>(random() % static_cast<unsigned>(maximum + 1));
    for (int i = 0; i < length; ++i)
      text += alphabet[random() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<Token> tokens;
    const int count = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i) {
      std::string content;
      while (content.empty() || content.front() == ' ' || content.back() == ' ')
        content = randomText(4);
      if (std::none_of(tokens.begin(), tokens.end(),
                       [&](const Token &t) { return t.content == content; }))
        tokens.push_back(Token{content, random() % 2 == 0, random() % 2 == 0});
    }
    const AddedTokenMatcher matcher(tokens);
    const Regex regex = alternation(tokens);
    for (int t = 0; t < 10; ++t) {
      const std::string text = randomText(14);
      if (text.empty())
        continue;
      SCOPED_TRACE("text '" + text + "'");
      EXPECT_EQ(split(matcher, text), splitKeepingLastGroup(text, regex));
    }
  }
}

} // namespace
} // namespace deduve
