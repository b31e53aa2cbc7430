#include "DeduveCore/Support/ConcurrencyUtilities.hpp"

#include <unistd.h>

namespace deduve {

int ConcurrencyUtilities::activeProcessorCount() {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

} // namespace deduve
