#include "DeduveCore/Tokenizers/MergeTable.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace deduve {
namespace {

// Pairs of symbol ids whose key lands in the first four of `slots` slots under the fixed
// multiplier the table once used: what a document crafted against it would list.
std::vector<std::uint64_t> pairsCollidingUnderAFixedMultiplier(std::size_t count, unsigned bits) {
  constexpr std::uint64_t kFixed = 0x9E3779B97F4A7C15ULL;
  std::vector<std::uint64_t> keys;
  for (std::uint64_t a = 0; keys.size() < count; ++a) {
    for (std::uint64_t b = 0; b < 4096 && keys.size() < count; ++b) {
      const std::uint64_t key = (a << 32) | b;
      if (((key * kFixed) >> (64 - bits)) < 4) {
        keys.push_back(key);
      }
    }
  }
  return keys;
}

TEST(MergeTableTest, PairsCraftedToCollideSpreadOverTheTable) {
  constexpr std::size_t kPairs = 2000; // a table of 4096 slots
  const std::vector<std::uint64_t> keys = pairsCollidingUnderAFixedMultiplier(kPairs, 12);
  std::vector<std::pair<std::uint64_t, Merge>> entries;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    entries.emplace_back(keys[i], Merge{static_cast<std::int64_t>(i), static_cast<int>(i) + 1});
  }
  MergeTable table;
  table.build(entries);
  // Under the fixed multiplier these pairs share one run of 2000 slots, which every insert
  // and every lookup of a pair the document does not merge walks.
  EXPECT_LT(table.longestProbe(), 64u);
  int wrong = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const Merge *merge = table.find(keys[i]);
    wrong += merge == nullptr || merge->rank != static_cast<std::int64_t>(i);
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(table.find((std::uint64_t{1} << 40) | 7), nullptr);
}

TEST(MergeTableTest, AnEmptyTableFindsNothing) {
  MergeTable table;
  EXPECT_EQ(table.find(0), nullptr);
  table.build({});
  EXPECT_EQ(table.find(42), nullptr);
  EXPECT_EQ(table.longestProbe(), 0u);
}

} // namespace
} // namespace deduve
