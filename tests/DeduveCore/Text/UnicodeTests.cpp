#include "DeduveCore/Text/Unicode.hpp"

#include <gtest/gtest.h>

namespace deduve {
namespace {

TEST(UnicodeTests, NormalizationForms) {
  const std::string precomposed = "\xC3\xA9";    // é
  const std::string decomposed = "e\xCC\x81";    // e + combining acute
  const std::string ligature = "\xEF\xAC\x81";   // ﬁ
  const std::string fullwidthA = "\xEF\xBC\xA1"; // Ａ
  struct Case {
    std::string input;
    NormalizationForm form;
    std::string expected;
  };
  const Case cases[] = {
      {decomposed, NormalizationForm::nfc, precomposed},
      {precomposed, NormalizationForm::nfd, decomposed},
      {ligature, NormalizationForm::nfc, ligature},
      {ligature, NormalizationForm::nfkc, "fi"},
      {fullwidthA + decomposed, NormalizationForm::nfkc, "A" + precomposed},
      {fullwidthA + precomposed, NormalizationForm::nfkd, "A" + decomposed},
      {"", NormalizationForm::nfkc, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(normalize(c.input, c.form), c.expected);
  }
}

TEST(UnicodeTests, LowercaseIsFullAndLocaleIndependent) {
  EXPECT_EQ(lowercase("HeLLo W\xC3\x96RLD"), "hello w\xC3\xB6rld");
  // Capital I with dot above lower-cases to two scalars (i + combining dot) in the root locale.
  EXPECT_EQ(lowercase("\xC4\xB0"), "i\xCC\x87");
  // Final sigma.
  EXPECT_EQ(lowercase("\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3"), "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82");
  EXPECT_EQ(lowercase("I"), "i");
}

TEST(UnicodeTests, UppercaseIsFullAndLocaleIndependent) {
  EXPECT_EQ(uppercase("hello w\xC3\xB6rld"), "HELLO W\xC3\x96RLD");
  // Sharp s upper-cases to two letters; dotless rules of Turkish do not apply.
  EXPECT_EQ(uppercase("\xC3\x9F"), "SS");
  EXPECT_EQ(uppercase("i"), "I");
}

TEST(UnicodeTests, FoldDiacriticsRemovesMarksOnly) {
  EXPECT_EQ(foldDiacritics("H\xC3\xA9llo na\xC3\xAFve"), "Hello naive");
  EXPECT_EQ(foldDiacritics("\xEF\xAC\x81"), "\xEF\xAC\x81");
}

TEST(UnicodeTests, IllFormedInputReadsAsReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(normalize("a\xFF"
                      "b",
                      NormalizationForm::nfkc),
            "a" + fffd + "b");
  EXPECT_EQ(lowercase("A\xE2\x96"), "a" + fffd);
  EXPECT_EQ(foldDiacritics("\xC3"), fffd);
  EXPECT_EQ(graphemeCount("a\xFF\xFE"), 3u);
}

TEST(UnicodeTests, CharacterProperties) {
  struct Case {
    char32_t scalar;
    bool whiteSpace, spaceSeparator, punctuation;
  };
  const Case cases[] = {
      {U' ', true, true, false},        {U'\t', true, false, false},
      {U'\n', true, false, false},      {U'\u3000', true, true, false},
      {U'\u00A0', true, true, false},   {U'\u2028', true, false, false},
      {U'\u200B', false, false, false}, {U'a', false, false, false},
      {U',', false, false, true},       {U'\u00BF', false, false, true},
      {U'$', false, false, false},      {U'\u3001', false, false, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(static_cast<uint32_t>(c.scalar));
    EXPECT_EQ(isWhiteSpace(c.scalar), c.whiteSpace);
    EXPECT_EQ(isSpaceSeparator(c.scalar), c.spaceSeparator);
    EXPECT_EQ(isPunctuation(c.scalar), c.punctuation);
  }
  EXPECT_TRUE(isOtherCategory(U'\u0007'));
  EXPECT_TRUE(isOtherCategory(U'\u200B'));
  EXPECT_TRUE(isOtherCategory(U'\uE000'));
  EXPECT_FALSE(isOtherCategory(U'a'));
}

TEST(UnicodeTests, GraphemeClustersKeepCombiningSequencesAndCrLfTogether) {
  const std::string text = "e\xCC\x81\r\nx\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7"; // é CRLF x 🇫🇷
  const auto clusters = graphemes(text);
  ASSERT_EQ(clusters.size(), 4u);
  EXPECT_EQ(clusters[0], "e\xCC\x81");
  EXPECT_EQ(clusters[1], "\r\n");
  EXPECT_EQ(clusters[2], "x");
  EXPECT_EQ(clusters[3], "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7");
  EXPECT_EQ(graphemeCount(text), 4u);
  EXPECT_EQ(graphemeCount(""), 0u);
  EXPECT_EQ(nextGraphemeBoundary(text, 0), 3u);
  EXPECT_EQ(nextGraphemeBoundary(text, 3), 5u);
  EXPECT_EQ(nextGraphemeBoundary(text, text.size()), text.size());
}

} // namespace
} // namespace deduve
