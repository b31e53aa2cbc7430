#pragma once

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

namespace deduve {

// Consecutive slices of `size` elements; the last holds the remainder. Throws
// std::invalid_argument for a size below 1.
template <class T>
std::vector<std::vector<T>> batched(const std::vector<T> &elements, std::size_t size) {
  if (size == 0) {
    throw std::invalid_argument("batched: the batch size must be at least 1");
  }
  std::vector<std::vector<T>> batches;
  batches.reserve((elements.size() + size - 1) / size);
  for (std::size_t start = 0; start < elements.size(); start += size) {
    const std::size_t end = std::min(elements.size(), start + size);
    batches.emplace_back(elements.begin() + static_cast<std::ptrdiff_t>(start),
                         elements.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return batches;
}

// The names the C library's shell-style matcher accepts for `glob` with no flags ("*" and "?"
// also match "/" and a leading "."), in input order.
std::vector<std::string> matching(const std::vector<std::string> &names, const std::string &glob);

// The elements in first-occurrence order, later duplicates dropped.
template <class T, class Hash = std::hash<T>>
std::vector<T> orderedSet(const std::vector<T> &elements) {
  std::unordered_set<T, Hash> seen;
  std::vector<T> result;
  for (const auto &element : elements) {
    if (seen.insert(element).second) {
      result.push_back(element);
    }
  }
  return result;
}

} // namespace deduve
