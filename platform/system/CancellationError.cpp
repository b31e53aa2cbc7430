#include "platform/system/CancellationError.hpp"

namespace platform {

const char *CancellationError::what() const noexcept { return "CancellationError"; }

} // namespace platform
