#pragma once

#include <stdexcept>
#include <string>

namespace deduve {

// The support library's own error. what() is the carried message.
class DeduveCoreError : public std::runtime_error {
public:
  enum class Code { invalidConfiguration };

  static DeduveCoreError invalidConfiguration(const std::string &message) {
    return DeduveCoreError(Code::invalidConfiguration, message);
  }

  DeduveCoreError(Code code, const std::string &message)
      : std::runtime_error(message), code_(code), message_(message) {}

  Code code() const { return code_; }
  const std::string &message() const { return message_; }
  // invalidConfiguration("<message>")
  std::string description() const { return "invalidConfiguration(\"" + message_ + "\")"; }

private:
  Code code_;
  std::string message_;
};

} // namespace deduve
