#include "platform/system/ExceptionDescription.hpp"

namespace platform {

std::string describe(const std::exception_ptr &error) {
  if (!error) {
    return "unknown error";
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception &caught) {
    return caught.what();
  } catch (...) {
    return "unknown error";
  }
}

} // namespace platform
