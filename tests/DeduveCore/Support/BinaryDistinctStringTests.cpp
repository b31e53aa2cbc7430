#include "DeduveCore/Support/BinaryDistinctString.hpp"

#include <gtest/gtest.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace deduve {
namespace {

using BDS = BinaryDistinctString;

TEST(BinaryDistinctStringTest, CanonicallyEquivalentTextsAreDifferentKeys) {
  const BDS precomposed("\u00e9");
  const BDS combining("e\u0301");
  EXPECT_EQ(precomposed.value, u"\u00e9");
  EXPECT_EQ(combining.value, (std::u16string{0x0065, 0x0301}));
  EXPECT_NE(precomposed, combining);
  EXPECT_NE(precomposed.hash(), combining.hash());
  std::unordered_map<BDS, int> vocabulary{{precomposed, 1}, {combining, 2}};
  EXPECT_EQ(vocabulary.at(BDS("e\u0301")), 2);
  EXPECT_EQ(BDS(std::vector<std::uint16_t>{0x65, 0x301}), combining);
}

TEST(BinaryDistinctStringTest, OrdersByUnsignedCodeUnits) {
  const std::vector<std::pair<BDS, BDS>> less = {
      {"ab", "abc"},
      {"abc", "abd"},
      {"B", "a"},
      {"", "a"},
      {"z", "\u00e9"},
      // U+FF5E sorts after a surrogate pair's lead unit 0xD83D only when units are unsigned.
      {"\U0001F600", "\uFF5E"},
  };
  for (const auto &[a, b] : less) {
    SCOPED_TRACE(a.string() + " < " + b.string());
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_TRUE(a <= b);
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(b >= a);
  }
  EXPECT_FALSE(BDS("a") < BDS("a"));
  EXPECT_TRUE(BDS("a") <= BDS("a"));
}

TEST(BinaryDistinctStringTest, CountsCharactersNotUnits) {
  struct Case {
    BDS text;
    int characters;
    std::size_t units;
  };
  const std::vector<Case> cases = {
      {"hello", 5, 5},
      {"\U0001F600", 1, 2},
      {"e\u0301", 1, 2},
      {"", 0, 0},
      {"a\U0001F44D\U0001F3FDb", 3, 6},
      {"\r\n", 1, 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text.string());
    EXPECT_EQ(c.text.count(), c.characters);
    EXPECT_EQ(c.text.unitCount(), c.units);
    EXPECT_EQ(static_cast<int>(c.text.characters().size()), c.characters);
  }
}

TEST(BinaryDistinctStringTest, IndexOffsets) {
  EXPECT_EQ(BDS("abc").index(0, 3), 3);
  EXPECT_EQ(BDS("abc").index(3, -3), 0);
  for (auto [text, i, n] :
       {std::tuple{"ab", 0, 3}, std::tuple{"ab", 2, -3}, std::tuple{"ab", 1, 2147483647}}) {
    SCOPED_TRACE(std::string(text) + " " + std::to_string(i) + " " + std::to_string(n));
    try {
      (void)BDS(text).index(i, n);
      FAIL() << "expected Index out of bounds";
    } catch (const std::out_of_range &error) {
      EXPECT_STREQ(error.what(), "Index out of bounds");
    }
  }
  EXPECT_EQ(BDS("abc").index(0, 2, 2), 2);
  EXPECT_EQ(BDS("abc").index(0, 3, 2), std::nullopt);
}

TEST(BinaryDistinctStringTest, RangeSubscripts) {
  const BDS hello("hello");
  EXPECT_EQ(hello.substring(1, 3), BDS("el"));
  EXPECT_EQ(hello.substring(0, 0), BDS(""));
  EXPECT_EQ(hello.substring(5), BDS(""));
  EXPECT_EQ(hello.substring(2), BDS("llo"));
  EXPECT_THROW((void)hello.substring(-1, 2), std::out_of_range);
  EXPECT_THROW((void)hello.substring(2, 6), std::out_of_range);
  EXPECT_THROW((void)hello.substring(6), std::out_of_range);

  // Characters of several units: positions are characters and the end is the character count.
  const BDS mixed("a\U0001F600e\u0301z");
  EXPECT_EQ(mixed.substring(1, 3), BDS("\U0001F600e\u0301"));
  EXPECT_EQ(mixed.substring(2), BDS("e\u0301z"));
  EXPECT_EQ(mixed.substring(4), BDS(""));
  EXPECT_EQ(BDS("caf\u00e9").substring(3), BDS("\u00e9"));
  EXPECT_EQ(BDS("cafe\u0301").substring(1), BDS("afe\u0301"));
}

TEST(BinaryDistinctStringTest, PrefixSuffixConcatenationAndReplacement) {
  const BDS text("hello world");
  EXPECT_TRUE(text.hasPrefix("hello"));
  EXPECT_TRUE(text.hasPrefix(""));
  EXPECT_FALSE(text.hasPrefix("hello world!"));
  EXPECT_TRUE(text.hasSuffix("world"));
  EXPECT_FALSE(text.hasSuffix("worl"));
  EXPECT_FALSE(BDS("e\u0301").hasPrefix("\u00e9"));
  EXPECT_EQ(BDS("ab") + BDS("\U0001F600"), BDS("ab\U0001F600"));
  EXPECT_EQ(BDS("a-b-c").replacingOccurrences("-", "--"), BDS("a--b--c"));
  EXPECT_EQ(BDS("aaa").replacingOccurrences("aa", "b"), BDS("ba"));
  EXPECT_EQ(BDS("abc").replacingOccurrences("", "x"), BDS("abc"));
  // Text replacement works on characters: an accent is never cut from its letter, and
  // canonically equivalent spellings match.
  EXPECT_EQ(BDS("e\u0301 e").replacingOccurrences("e", "a"), BDS("e\u0301 a"));
  EXPECT_EQ(BDS("cafe\u0301!").replacingOccurrences("\u00e9", "e"), BDS("cafe!"));
  EXPECT_EQ(BDS("\U0001F44D\U0001F3FD \U0001F44D").replacingOccurrences("\U0001F44D", "+"),
            BDS("\U0001F44D\U0001F3FD +"));
}

TEST(BinaryDistinctStringTest, MergesDictionariesKeyedByPlatformStrings) {
  std::unordered_map<BDS, int> dictionary{{BDS("a"), 1}, {BDS("e\u0301"), 2}};
  const std::unordered_map<std::string, int> other{{"a", 10}, {"\u00e9", 20}, {"b", 30}};
  const auto sum = [](int current, int incoming) { return current + incoming; };
  const auto merged = merging(dictionary, other, sum);
  // Keys are code units: the precomposed "é" is a key of its own.
  EXPECT_EQ(merged, (std::unordered_map<BDS, int>{
                        {BDS("a"), 11}, {BDS("e\u0301"), 2}, {BDS("\u00e9"), 20}, {BDS("b"), 30}}));
  merge(dictionary, other, [](int current, int) { return current; });
  EXPECT_EQ(dictionary.at(BDS("a")), 1);
  EXPECT_EQ(dictionary.size(), 4u);
}

TEST(BinaryDistinctStringTest, LowercasesWithFullUnicodeMapping) {
  EXPECT_EQ(BDS("HeLLo").lowercased(), BDS("hello"));
  EXPECT_EQ(BDS("\u00C9T\u00C9").lowercased(), BDS("\u00e9t\u00e9"));
  // İ lower-cases to i followed by a combining dot above: the result grows by one unit.
  EXPECT_EQ(BDS("\u0130").lowercased(), BDS("i\u0307"));
  EXPECT_EQ(BDS("\u03A3").lowercased(), BDS("\u03C3"));
}

TEST(BinaryDistinctStringTest, CharactersAndTheirDescription) {
  const auto characters = BDS("a\u3042\U0001F600").characters();
  ASSERT_EQ(characters.size(), 3u);
  EXPECT_EQ(characters[0].description(), "BinaryDistinctCharacter('a', bytes: [\"0x61\"])");
  EXPECT_EQ(characters[1].description(), "BinaryDistinctCharacter('\u3042', bytes: [\"0x3042\"])");
  EXPECT_EQ(characters[2].description(),
            "BinaryDistinctCharacter('\U0001F600', bytes: [\"0xD83D\", \"0xDE00\"])");
  EXPECT_EQ(BDS(characters), BDS("a\u3042\U0001F600"));
  EXPECT_EQ(BDS(characters[2]).unitCount(), 2u);
  EXPECT_EQ(BinaryDistinctCharacter("a"), characters[0]);
}

TEST(BinaryDistinctStringTest, MalformedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(BDS(std::string("a\xff") + "b").value, u"a\uFFFDb");
  EXPECT_EQ(BDS(std::u16string{0xD800}).string(), "\xEF\xBF\xBD"); // a lone surrogate
}

} // namespace
} // namespace deduve
