#pragma once

#include <algorithm>
#include <vector>

namespace mqbench {

// The middle value (the upper one of an even count); `values` must not be empty.
inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

} // namespace mqbench
