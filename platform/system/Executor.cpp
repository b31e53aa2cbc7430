#include "platform/system/Executor.hpp"

#include <cstdio>
#include <string>

namespace platform {

void logUncaughtError(std::string_view executorName, std::exception_ptr error) {
  std::string description = "an exception that is not a std::exception";
  try {
    if (error) {
      std::rethrow_exception(error);
    }
  } catch (const std::exception &exception) {
    description = exception.what();
  } catch (...) {
  }
  std::fprintf(stderr, "%.*s: work ended with an uncaught error: %s\n",
               static_cast<int>(executorName.size()), executorName.data(), description.c_str());
}

} // namespace platform
