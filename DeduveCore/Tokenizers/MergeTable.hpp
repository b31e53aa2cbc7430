#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace deduve {

// What merging one pair of symbols gives: the merge's rank and the symbol id of the result.
struct Merge {
  std::int64_t rank;
  std::int32_t result;
};

// Pair of symbol ids -> merge, open addressing with linear probing: the merge loop asks it once
// per adjacent pair and pass, so it is the hottest lookup of encoding. The pairs come from the
// document in its own order, so the multiplier that places them is drawn once per process: a
// list of merges crafted against a fixed one would pile into a few slots and turn every insert
// and lookup into a walk over the others.
class MergeTable {
public:
  MergeTable();
  void build(const std::vector<std::pair<std::uint64_t, Merge>> &entries);
  const Merge *find(std::uint64_t key) const;
  // The longest run of slots a lookup walks; only a well spread table keeps it short.
  std::size_t longestProbe() const;

private:
  struct Slot {
    std::uint64_t key = kEmpty;
    Merge merge{};
  };
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  std::size_t home(std::uint64_t key) const;

  std::vector<Slot> slots_;
  unsigned shift_ = 64;
  std::uint64_t multiplier_; // the process's, held here so the hot lookup reads no static
};

} // namespace deduve
