#pragma once

#include <exception>
#include <string>

namespace platform {

// The text of a caught error: what() of a std::exception, "unknown error" for anything else
// (and for a null pointer). Thread-safe.
std::string describe(const std::exception_ptr &error);

} // namespace platform
