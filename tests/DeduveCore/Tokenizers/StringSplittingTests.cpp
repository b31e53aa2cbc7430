#include "DeduveCore/Tokenizers/StringSplitting.hpp"

#include <gtest/gtest.h>

namespace deduve {
namespace {

using Texts = std::vector<std::string>;

TEST(StringSplittingTests, DelimiterModes) {
  struct Case {
    SplitDelimiterMode mode;
    std::string text;
    Texts expected;
  };
  const Case cases[] = {
      {SplitDelimiterMode::drop, "the-final--countdown", {"the", "final", "countdown"}},
      {SplitDelimiterMode::isolate,
       "the-final--countdown",
       {"the", "-", "final", "-", "-", "countdown"}},
      {SplitDelimiterMode::attachToPrevious,
       "the-final--countdown",
       {"the-", "final-", "-", "countdown"}},
      {SplitDelimiterMode::attachToNext,
       "the-final--countdown",
       {"the", "-final", "-", "-countdown"}},
      {SplitDelimiterMode::attachToNext, "-a-", {"-a", "-"}},
      {SplitDelimiterMode::attachToPrevious, "-a-", {"-", "a-"}},
      {SplitDelimiterMode::attachToNext, "none", {"none"}},
      {SplitDelimiterMode::attachToPrevious, "none", {"none"}},
      {SplitDelimiterMode::isolate, "", {}},
  };
  for (const bool regex : {false, true}) {
    const StringSplitPattern dash =
        regex ? StringSplitPattern::regexp("-") : StringSplitPattern::string("-");
    for (const auto &c : cases) {
      SCOPED_TRACE(c.text + (regex ? " (regex)" : " (text)") +
                   std::to_string(static_cast<int>(c.mode)));
      EXPECT_EQ(splitByDelimiter(c.text, dash, c.mode), c.expected);
    }
  }
}

TEST(StringSplittingTests, PlainSearchComparesWholeCharactersByCanonicalEquivalence) {
  const std::string precomposed = "\xC3\xA9";
  const std::string decomposed = "e\xCC\x81";
  EXPECT_EQ(StringSplitPattern::string(decomposed).findAllRanges("a" + precomposed + "b"),
            (std::vector<TextRange>{{1, 3}}));
  EXPECT_EQ(StringSplitPattern::string(precomposed).findAllRanges(decomposed + "x"),
            (std::vector<TextRange>{{0, 3}}));
  EXPECT_TRUE(StringSplitPattern::string("e").findAllRanges(decomposed).empty());
  EXPECT_TRUE(StringSplitPattern::string("").findAllRanges("abc").empty());
  EXPECT_EQ(StringSplitPattern::string("aa").findAllRanges("aaaaa"),
            (std::vector<TextRange>{{0, 2}, {2, 4}}));
}

TEST(StringSplittingTests, EmptyMatchesNeitherHangNorMakeEmptyPieces) {
  const std::string text(100000, 'a');
  const auto pieces =
      splitByDelimiter(text, StringSplitPattern::regexp("b*"), SplitDelimiterMode::isolate);
  EXPECT_EQ(pieces.size(), text.size());
  EXPECT_EQ(splitByDelimiter("ab", StringSplitPattern::regexp(""), SplitDelimiterMode::drop),
            Texts({"a", "b"}));
}

TEST(StringSplittingTests, KeepingLastGroupCutsOutAddedTokens) {
  const Regex added(R"(\s*(<\|ab\|>)|(<\|a\|>)\s*)");
  struct Case {
    std::string text;
    Texts expected;
  };
  const Case cases[] = {
      {"x<|ab|>y", {"x", "<|ab|>", "y"}},
      {"hello  <|ab|>", {"hello", "<|ab|>"}},
      {"<|a|>  z", {"<|a|>", "z"}},
      {"plain", {"plain"}},
      {"", {""}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(splitKeepingLastGroup(c.text, added), c.expected);
  }
}

} // namespace
} // namespace deduve
