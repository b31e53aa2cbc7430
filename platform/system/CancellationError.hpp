#pragma once

#include <exception>

namespace platform {

// What cancelled work throws (CancellationToken::checkCancellation, Task::checkCancellation).
class CancellationError : public std::exception {
public:
  const char *what() const noexcept override;
};

} // namespace platform
