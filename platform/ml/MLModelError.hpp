#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// Failure of the model layer: loading, creating arrays, or running a prediction.
class MLModelError : public std::runtime_error {
public:
  enum class Code {
    generic,          // anything else, including invalid array shapes
    featureType,      // an input is missing or has the wrong type or shape
    io,               // a model file cannot be read
    invalidModel,     // a model folder is malformed
    predictionFailed, // the computation itself failed
  };

  MLModelError(Code code, const std::string &message) : std::runtime_error(message), code_(code) {}

  Code code() const { return code_; }

private:
  Code code_;
};

} // namespace platform
