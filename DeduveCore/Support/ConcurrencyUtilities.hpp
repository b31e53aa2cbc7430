#pragma once

namespace deduve {

struct ConcurrencyUtilities {
  // Processors currently online, read afresh at each call; at least 1.
  static int activeProcessorCount();
};

} // namespace deduve
