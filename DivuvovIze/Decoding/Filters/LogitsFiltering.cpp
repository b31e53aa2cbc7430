#include "DivuvovIze/Decoding/Filters/LogitsFiltering.hpp"

#include <algorithm>
#include <limits>

namespace divuvovize {

LogitsView::LogitsView(const platform::MLMultiArray &logits) {
  const auto &shape = logits.shape();
  if (logits.dataType() != platform::MLMultiArrayDataType::float32 || shape.size() != 3 ||
      shape[0] != 1 || shape[1] != 1 || logits.dataPointer() == nullptr) {
    return;
  }
  data = static_cast<float *>(logits.dataPointer());
  count = shape[2];
  stride = logits.strides()[2];
}

void LogitsView::mask(int lower, int upper) const {
  lower = std::max(lower, 0);
  upper = std::min(upper, count);
  constexpr float kMasked = -std::numeric_limits<float>::infinity();
  if (stride == 1) {
    if (lower < upper) {
      std::fill(data + lower, data + upper, kMasked);
    }
    return;
  }
  for (int id = lower; id < upper; ++id) {
    (*this)[id] = kMasked;
  }
}

void LogitsView::mask(int id) const {
  if (id >= 0 && id < count) {
    (*this)[id] = -std::numeric_limits<float>::infinity();
  }
}

} // namespace divuvovize
