#include <stdexcept>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "DivuvovIze/Models/TokenLogProbs.hpp"

namespace divuvovize {
namespace {

using Entries = std::vector<std::pair<int, float>>;

Entries entriesOf(const TokenLogProbs &map) { return Entries(map.begin(), map.end()); }

TEST(TokenLogProbs, BehavesAsAMapInAscendingIdOrder) {
  struct Case {
    const char *name;
    TokenLogProbs map;
    Entries entries;
  };
  const Case cases[] = {
      {"Empty", {}, {}},
      {"OneInPlace", TokenLogProbs(50364, -0.5f), {{50364, -0.5f}}},
      {"SortedOnInsert",
       {{2425, -0.25f}, {11, -3.5f}, {700, -1.0f}},
       {{11, -3.5f}, {700, -1.0f}, {2425, -0.25f}}},
      {"RepeatedIdKeepsTheLastValue", {{5, -1.0f}, {5, -2.0f}}, {{5, -2.0f}}},
      {"RepeatedAfterTheHeap", {{5, -1.0f}, {3, -2.0f}, {5, -4.0f}}, {{3, -2.0f}, {5, -4.0f}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(entriesOf(c.map), c.entries);
    EXPECT_EQ(c.map.size(), c.entries.size());
    for (const auto &[token, logProb] : c.entries) {
      EXPECT_EQ(c.map.at(token), logProb);
      EXPECT_EQ(c.map.count(token), 1u);
    }
    EXPECT_EQ(c.map.find(1), c.map.end());
    EXPECT_THROW(static_cast<void>(c.map.at(1)), std::out_of_range);
  }
}

TEST(TokenLogProbs, CopiesAndComparesByEntries) {
  TokenLogProbs many{{1, -1.0f}, {2, -2.0f}};
  const TokenLogProbs copy = many;
  EXPECT_EQ(copy, many);
  many.insertOrAssign(2, -3.0f);
  EXPECT_NE(copy, many);
  EXPECT_EQ(copy.at(2), -2.0f);
  EXPECT_NE(TokenLogProbs(1, -1.0f), copy) << "a prefix is not equal";
  TokenLogProbs moved = std::move(many);
  EXPECT_EQ(entriesOf(moved), (Entries{{1, -1.0f}, {2, -3.0f}}));
}

TEST(TokenLogProbs, ReadsAnObjectKeyedByTokenIds) {
  const auto read = TokenLogProbs::fromJson(Json::parse(R"({"50364": -0.5, "11": -3.5})"), "p");
  EXPECT_EQ(entriesOf(read), (Entries{{11, -3.5f}, {50364, -0.5f}}));
  try {
    TokenLogProbs::fromJson(Json::parse(R"({"x": 1.0})"), "p");
    FAIL() << "accepted a key that is not a token id";
  } catch (const JsonDecodingError &error) {
    EXPECT_EQ(error.codingPath(), "p.x");
  }
}

} // namespace
} // namespace divuvovize
