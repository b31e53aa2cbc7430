#include "DeduveCore/Support/CollectionUtilities.hpp"
#include "DeduveCore/Support/StringUtilities.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace deduve {
namespace {

TEST(CollectionUtilitiesTest, Batched) {
  EXPECT_EQ(batched(std::vector<int>{1, 2, 3, 4, 5}, 2),
            (std::vector<std::vector<int>>{{1, 2}, {3, 4}, {5}}));
  EXPECT_EQ(batched(std::vector<int>{1, 2, 3, 4}, 2),
            (std::vector<std::vector<int>>{{1, 2}, {3, 4}}));
  EXPECT_EQ(batched(std::vector<int>{1, 2}, 5), (std::vector<std::vector<int>>{{1, 2}}));
  EXPECT_TRUE(batched(std::vector<int>{}, 3).empty());
  EXPECT_THROW(batched(std::vector<int>{1}, 0), std::invalid_argument);
}

TEST(CollectionUtilitiesTest, MatchingUsesFnmatchWithoutFlags) {
  const std::vector<std::string> files = {
      "openai_whisper-base.en/config.json", "openai_whisper-base/config.json",
      "openai_whisper-base.en/AudioEncoder.mlmodelc/weights/weight.bin", ".hidden", "README.md"};
  struct Case {
    std::string glob;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"*base.en/*",
       {"openai_whisper-base.en/config.json",
        "openai_whisper-base.en/AudioEncoder.mlmodelc/weights/weight.bin"}},
      {"*", files}, // "*" crosses "/" and matches a leading "."
      {"?hidden", {".hidden"}},
      {"*.md", {"README.md"}},
      {"[R]EADME.md", {"README.md"}},
      {"nothing*", {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.glob);
    EXPECT_EQ(matching(files, c.glob), c.expected);
  }
}

TEST(CollectionUtilitiesTest, OrderedSetKeepsFirstOccurrences) {
  EXPECT_EQ(orderedSet(std::vector<int>{3, 1, 3, 2, 1}), (std::vector<int>{3, 1, 2}));
  EXPECT_EQ(orderedSet(std::vector<std::string>{"b", "a", "b"}),
            (std::vector<std::string>{"b", "a"}));
  EXPECT_TRUE(orderedSet(std::vector<int>{}).empty());
}

TEST(StringUtilitiesTest, RoundedHalfAwayFromZero) {
  struct Case {
    float x;
    int decimals;
    float expected;
  };
  const std::vector<Case> cases = {
      {0.125f, 2, 0.13f}, {-0.125f, 2, -0.13f}, {2.5f, 0, 3.0f},        {-2.5f, 0, -3.0f},
      {1.234f, 1, 1.2f},  {0.0f, 3, 0.0f},      {123.456f, 2, 123.46f},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + " to " + std::to_string(c.decimals));
    EXPECT_FLOAT_EQ(rounded(c.x, c.decimals), c.expected);
  }
}

TEST(StringUtilitiesTest, TrimmingFromEnd) {
  struct Case {
    std::string text;
    std::string character;
    int upto;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"models//", "/", 1, "models/"},
      {"models//", "/", 5, "models"},
      {"models//", "/", 0, "models//"},
      {"models//", "/", -1, "models//"},
      {"a/b", "/", 3, "a/b"},
      {"", "/", 2, ""},
      {"///", "/", 9, ""},
      // A trailing accent belongs to its letter: the lone accent is not trimmed.
      {"cafe\u0301", "\u0301", 1, "cafe\u0301"},
      {"ok\U0001F600\U0001F600", "\U0001F600", 1, "ok\U0001F600"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text + " " + std::to_string(c.upto));
    EXPECT_EQ(trimmingFromEnd(c.text, c.character, c.upto), c.expected);
  }
}

TEST(StringUtilitiesTest, StringStartsWithComparesCharacters) {
  struct Case {
    std::string prefix;
    std::string text;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"hel", "hello", true},       {"", "x", true},
      {"hello!", "hello", false},   {"e", "e\u0301x", false}, // "e" is not the character "é"
      {"\u00e9", "e\u0301x", true}, // canonically equivalent characters are equal
      {"He", "hello", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.prefix + " / " + c.text);
    EXPECT_EQ(stringStartsWith(c.prefix, c.text), c.expected);
  }
}

TEST(StringUtilitiesTest, TrailingFragment) {
  const auto length = [](std::string_view text) { return text.size(); };
  struct Case {
    std::string text;
    std::size_t minimum;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"First. Second part here", 5, "Second part here"},
      {"First. Hi", 5, std::nullopt},     // "Hi" too short, no comma, the blank gives "Hi"
      {"one, two three", 5, "two three"}, // after the comma
      {"one, two three four. Go", 5, "two three four. Go"}, // "Go" too short: after the comma
      {"no delimiters", 3, "delimiters"},
      {"single", 1, std::nullopt},
      {"a \u2013 bcdef", 5, "bcdef"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(trailingFragment(c.text, c.minimum, length), c.expected);
  }
}

TEST(StringUtilitiesTest, ResolveAbsolutePath) {
  const platform::Environment environment(platform::Environment::Variables{}, "/home/ada", "/tmp");
  EXPECT_EQ(resolveAbsolutePath("~/x", environment), "/home/ada/x");
  EXPECT_EQ(resolveAbsolutePath("~", environment), "/home/ada");
  EXPECT_EQ(resolveAbsolutePath("a/b", environment), "/tmp/a/b");
  EXPECT_EQ(resolveAbsolutePath("/etc/hosts", environment), "/etc/hosts");
  // "~user" is that user's home folder; a user the system does not know stays as written.
  EXPECT_EQ(resolveAbsolutePath("~no-such-user-here/x", environment), "/tmp/~no-such-user-here/x");
  EXPECT_EQ(resolveAbsolutePath("~other/x", environment), "/tmp/~other/x");
  EXPECT_EQ(resolveAbsolutePath("~root/x", environment), "/root/x");
  EXPECT_EQ(resolveAbsolutePath("~root", environment), "/root");
}

} // namespace
} // namespace deduve
