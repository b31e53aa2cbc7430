#pragma once

#include "platform/ml/MLMultiArray.hpp"

#include <vector>

namespace divuvovize {

// One rule applied to a decoder step's logits before sampling: it forbids tokens by writing
// negative infinity into their logits, in place. The logits are a float32 array of shape
// [1, 1, vocabulary]; `tokens` is the sequence decoded so far, prompt included. Filters never
// throw, allocate nothing per call, and are immutable after construction (one filter may
// serve several windows at once).
class LogitsFiltering {
public:
  virtual ~LogitsFiltering() = default;
  // Returns `logits` itself.
  virtual platform::MLMultiArray &filterLogits(platform::MLMultiArray &logits,
                                               const std::vector<int> &tokens) const = 0;
};

// The logits' elements viewed as one run of floats with a fixed step; an array that is not a
// float32 [1, 1, n] array gives an empty view.
struct LogitsView {
  explicit LogitsView(const platform::MLMultiArray &logits);

  float &operator[](int id) const { return data[static_cast<std::ptrdiff_t>(id) * stride]; }
  // Writes negative infinity at ids lower ..< upper, clamped to 0 ..< count.
  void mask(int lower, int upper) const;
  // Writes negative infinity at `id` when it lies in 0 ..< count.
  void mask(int id) const;

  float *data = nullptr;
  int count = 0;
  int stride = 1;
};

} // namespace divuvovize
