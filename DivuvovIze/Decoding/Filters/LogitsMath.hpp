#pragma once

#include "platform/ml/VectorKernels.hpp"

namespace divuvovize::logitsmath {

// Reductions over runs of logits for the filters and samplers: the model runner's, which run on
// the widest vectors the CPU offers with the same result on every CPU (see
// platform/ml/VectorKernels.hpp); -infinity entries (masked tokens) are allowed anywhere.
using platform::runner::MaxEntry;
using platform::runner::maxEntry;
using platform::runner::maxValue;
using platform::runner::sumExp;

} // namespace divuvovize::logitsmath
