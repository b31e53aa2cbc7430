#include "DeduveCore/Support/Description.hpp"

#include <charconv>
#include <cmath>

namespace deduve {

namespace {

template <class F> std::string format(F value) {
  if (std::isnan(value)) {
    return "nan";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-inf" : "inf";
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".e") == std::string::npos) {
    text += ".0";
  }
  return text;
}

} // namespace

std::string formatFloat(float value) { return format(value); }
std::string formatDouble(double value) { return format(value); }

} // namespace deduve
