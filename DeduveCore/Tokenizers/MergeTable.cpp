#include "DeduveCore/Tokenizers/MergeTable.hpp"

#include <algorithm>
#include <random>

namespace deduve {

namespace {

// Odd, so multiply-shift hashing keeps every bit of the key.
std::uint64_t processMultiplier() {
  static const std::uint64_t multiplier = [] {
    std::random_device device;
    return ((std::uint64_t{device()} << 32) ^ device()) | 1;
  }();
  return multiplier;
}

} // namespace

MergeTable::MergeTable() : multiplier_(processMultiplier()) {}

std::size_t MergeTable::home(std::uint64_t key) const {
  return static_cast<std::size_t>((key * multiplier_) >> shift_);
}

void MergeTable::build(const std::vector<std::pair<std::uint64_t, Merge>> &entries) {
  unsigned bits = 4;
  while ((std::size_t{1} << bits) < entries.size() * 2)
    ++bits;
  shift_ = 64 - bits;
  slots_.assign(std::size_t{1} << bits, Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const auto &[key, merge] : entries) {
    std::size_t at = home(key);
    while (slots_[at].key != kEmpty && slots_[at].key != key)
      at = (at + 1) & mask;
    slots_[at] = Slot{key, merge};
  }
}

const Merge *MergeTable::find(std::uint64_t key) const {
  if (slots_.empty())
    return nullptr;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = home(key);; at = (at + 1) & mask) {
    if (slots_[at].key == key)
      return &slots_[at].merge;
    if (slots_[at].key == kEmpty)
      return nullptr;
  }
}

std::size_t MergeTable::longestProbe() const {
  std::size_t longest = 0;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].key != kEmpty)
      longest = std::max(longest, ((i - home(slots_[i].key)) & mask) + 1);
  }
  return longest;
}

} // namespace deduve
