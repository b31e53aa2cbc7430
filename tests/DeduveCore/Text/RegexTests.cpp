#include "DeduveCore/Text/Regex.hpp"

#include <gtest/gtest.h>

namespace deduve {
namespace {

std::vector<std::string> matchedTexts(const Regex &regex, std::string_view text) {
  std::vector<std::string> out;
  for (const TextRange &range : regex.findAll(text))
    out.emplace_back(range.of(text));
  return out;
}

using Texts = std::vector<std::string>;

TEST(RegexTests, FindAllFollowsIcuSyntaxOverUtf8) {
  struct Case {
    const char *pattern;
    std::string text;
    Texts expected;
  };
  const Case cases[] = {
      {R"(\S+)", "a  b\tc", {"a", "b", "c"}},
      {R"(\p{L}+)",
       "caf\xC3\xA9 1 \xE6\x97\xA5\xE6\x9C\xAC",
       {"caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC"}},
      {R"([\u0021-\u002F]+)", "a!#b/", {"!#", "/"}},
      {R"(\bis\b)", "this is it", {"is"}},
      // \s covers Unicode white space such as the ideographic space.
      {R"(\s+)",
       "a\xE3\x80\x80"
       "b",
       {"\xE3\x80\x80"}},
      {R"(\s+(?!\S)|\s+)", "a   b ", {"  ", " ", " "}},
      {R"(.)", "\xF0\x9F\x98\x80x", {"\xF0\x9F\x98\x80", "x"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(matchedTexts(Regex(c.pattern), c.text), c.expected);
  }
}

TEST(RegexTests, RangesAreUtf8ByteOffsets) {
  const std::string text = "\xC3\xA9 \xF0\x9F\x98\x80z";
  const auto ranges = Regex(R"(\S+)").findAll(text);
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0], (TextRange{0, 2}));
  EXPECT_EQ(ranges[1], (TextRange{3, 8}));
}

TEST(RegexTests, CaseInsensitiveOption) {
  Regex::Options options;
  options.caseInsensitive = true;
  // ICU folds case fully: "ß" matches "SS".
  EXPECT_EQ(matchedTexts(Regex("stra\xC3\x9F"
                               "e",
                               options),
                         "STRASSE Stra\xC3\x9F"
                         "e"),
            Texts({"STRASSE", "Stra\xC3\x9F"
                              "e"}));
  EXPECT_EQ(matchedTexts(Regex("hello", options), "HeLLo hello"), Texts({"HeLLo", "hello"}));
  EXPECT_TRUE(Regex("hello").findAll("HELLO").empty());
}

TEST(RegexTests, EmptyMatchesAdvanceOneCharacterAndFinish) {
  // A pattern that matches the empty string everywhere must still end, one step per character
  // (a combining sequence is one character), on a long text too.
  const Regex anything("x*");
  EXPECT_EQ(anything.findAll("ab").size(), 3u);
  EXPECT_EQ(matchedTexts(anything, "axxb"), Texts({"", "xx", "", ""}));
  EXPECT_EQ(anything
                .findAll("e\xCC\x81"
                         "a")
                .size(),
            3u);
  const std::string longText(200000, 'a');
  EXPECT_EQ(Regex("").findAll(longText).size(), longText.size() + 1);
  EXPECT_EQ(Regex(R"(\b)").findAll("ab cd").size(), 4u);
}

TEST(RegexTests, CapturesReportParticipatingGroups) {
  const auto matches = Regex(R"((a)|(b))").matches("ab");
  ASSERT_EQ(matches.size(), 2u);
  ASSERT_EQ(matches[0].groups.size(), 3u);
  EXPECT_TRUE(matches[0].groups[1].has_value());
  EXPECT_FALSE(matches[0].groups[2].has_value());
  EXPECT_FALSE(matches[1].groups[1].has_value());
  EXPECT_EQ(*matches[1].groups[2], (TextRange{1, 2}));
}

TEST(RegexTests, ReplaceAllExpandsTemplates) {
  struct Case {
    const char *pattern;
    const char *text;
    const char *replacement;
    const char *expected;
  };
  const Case cases[] = {
      {R"(\s(\.|\?|n't))", "I do n't know .", "$1", "I don't know."},
      {R"((\w+)@(\w+))", "me@host", "$2 at $1", "host at me"},
      {R"(a)", "banana", R"(\$1)", "b$1n$1n$1"},
      {R"( )", "a b", "\xE2\x96\x81",
       "a\xE2\x96\x81"
       "b"},
      {R"((x)|(y))", "xy", "[$2]", "[][y]"},
      {R"((a))", "a", "$12", "a2"}, // one group: "$1" then a literal "2"
      {R"(a)", "a", "$", "$"},
      {R"(z)", "abc", "-", "abc"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(Regex(c.pattern).replaceAll(c.text, c.replacement), c.expected);
  }
}

TEST(RegexTests, EscapedLiteralsMatchThemselves) {
  for (const std::string literal :
       {".", "|", "a+b", "(x)", "[^]", "\\E\\Q", "$1", "\xE2\x96\x81", " "}) {
    SCOPED_TRACE(literal);
    const std::string text = "<" + literal + ">" + literal;
    EXPECT_EQ(matchedTexts(Regex(Regex::escape(literal)), text), Texts({literal, literal}));
    EXPECT_EQ(Regex("x").replaceAll("x", Regex::escapeTemplate(literal)), literal);
  }
}

TEST(RegexTests, SplitKeepsEmptyTexts) {
  EXPECT_EQ(Regex(",").split("a,,b,"), Texts({"a", "", "b", ""}));
  EXPECT_EQ(Regex(",").split(""), Texts({""}));
}

TEST(RegexTests, TimeLimitStopsCatastrophicBacktracking) {
  Regex::Options options;
  options.timeLimit = 10;
  const Regex limited(R"((\w+)+$)", options);
  try {
    limited.findAll("Supercalifragilisticexpialidocious!");
    FAIL() << "the search finished";
  } catch (const RegexTimeLimitError &error) {
    EXPECT_EQ(error.pattern(), R"((\w+)+$)");
    EXPECT_NE(std::string(error.what()).find("time limit of 10 steps"), std::string::npos);
  }
  // The same limit leaves ordinary searches alone.
  EXPECT_EQ(limited.findAll("word").size(), 1u);
  const Regex words(R"(\w+)", options);
  EXPECT_EQ(words.findAll(std::string(20000, 'a') + " b").size(), 2u);
}

TEST(RegexTests, ALinearSearchFinishesOnAnyLengthAndAFailedOneNamesItsPattern) {
  // One search backtracks over the whole run of spaces: linear work that grows with the text,
  // and a saved state per character.
  Regex::Options options;
  options.timeLimit = 10;
  const Regex spaces(R"(\s*[\r\n]+|\s+(?!\S)|\s+)", options);
  for (const std::size_t length : {std::size_t{300'000}, std::size_t{1'000'000}}) {
    SCOPED_TRACE(length);
    const auto ranges = spaces.findAll(std::string(length, ' ') + "x");
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0], (TextRange{0, length - 1}));
  }
  // A loop that saves forty groups per character needs more than any search may take.
  const std::string pattern = "(" + std::string(39, '(') + "\\s" + std::string(40, ')') + "*x";
  try {
    Regex(pattern).findAll(std::string(200'000, ' '));
    FAIL() << "the search finished";
  } catch (const RegexSearchError &error) {
    EXPECT_EQ(error.pattern(), pattern);
    EXPECT_NE(std::string(error.what()).find(pattern), std::string::npos) << error.what();
  }
}

TEST(RegexTests, InvalidPatternsAreRefused) {
  for (const char *pattern : {"(", "[a-", "a{2,1}", "\\"}) {
    SCOPED_TRACE(pattern);
    try {
      Regex regex(pattern);
      FAIL() << "compiled";
    } catch (const RegexError &error) {
      EXPECT_EQ(error.pattern(), pattern);
    }
  }
}

} // namespace
} // namespace deduve
