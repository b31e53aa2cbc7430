#pragma once

#include <optional>
#include <string>

namespace murmurquill {

// Lets a repeated failure be reported once per cause: the first report of a cause passes, the
// same cause again does not until a success (or another cause) came between.
class OncePerCause {
public:
  // Whether `cause` is new since the last success; remembers it.
  bool isNew(const std::string &cause) {
    if (last_ == cause) {
      return false;
    }
    last_ = cause;
    return true;
  }
  void succeeded() { last_.reset(); }

private:
  std::optional<std::string> last_;
};

} // namespace murmurquill
