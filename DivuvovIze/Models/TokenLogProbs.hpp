#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "DivuvovIze/Models/JsonCoding.hpp"

namespace divuvovize {

// One token's log-probabilities by token id: a small map, in ascending id order. The decoder
// gives every token one entry, its own, which is held in place: a window's list of them then
// costs one allocation in all, not one per token. Further entries move the map to the heap.
class TokenLogProbs {
public:
  using value_type = std::pair<int, float>;
  using const_iterator = const value_type *;

  TokenLogProbs() = default;
  TokenLogProbs(int token, float logProb) : single_{token, logProb}, hasSingle_(true) {}
  // The last value of a repeated id wins.
  TokenLogProbs(std::initializer_list<value_type> entries);

  const_iterator begin() const { return many_.empty() ? &single_ : many_.data(); }
  const_iterator end() const { return begin() + size(); }
  std::size_t size() const { return many_.empty() ? (hasSingle_ ? 1 : 0) : many_.size(); }
  bool empty() const { return size() == 0; }

  // end() when absent.
  const_iterator find(int token) const;
  std::size_t count(int token) const { return find(token) == end() ? 0 : 1; }
  // Throws std::out_of_range when absent.
  float at(int token) const;
  // Adds the entry, or replaces the log-probability of one already there.
  void insertOrAssign(int token, float logProb);

  bool operator==(const TokenLogProbs &other) const;

  // An object keyed by decimal token ids, as a std::map<int, float> is read.
  static TokenLogProbs fromJson(const Json &document, const std::string &path);

private:
  value_type single_{}; // the entry while there is at most one
  bool hasSingle_ = false;
  std::vector<value_type> many_; // every entry, sorted, once there are two or more
};

} // namespace divuvovize
