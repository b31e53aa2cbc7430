#include "DeduveCore/Support/Description.hpp"

#include <charconv>
#include <cmath>
#include <string>
#include <type_traits>

namespace deduve {

namespace {

// The platform's number description: the shortest digits that read back as the same value,
// in plain notation with at least one fraction digit ("100000.0", "0.0001"), or in exponent
// notation ("1e-05", "1.6777218e+07") when the value is below 1e-4 or beyond the range in
// which the type holds every whole number exactly (2^24 for float, 2^53 for double).
template <class F> std::string format(F value) {
  if (std::isnan(value)) {
    return "nan";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-inf" : "inf";
  }
  constexpr F wholeNumberLimit = std::is_same_v<F, float> ? F(16777216.0) : F(9007199254740992.0);
  char buffer[512];
  const auto scientific =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string text(buffer, scientific.ptr);
  const int exponent = std::stoi(text.substr(text.find('e') + 1));
  if (value != 0 && (exponent < -4 || std::fabs(value) > wholeNumberLimit)) {
    return text;
  }
  const auto fixed = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  text.assign(buffer, fixed.ptr);
  if (text.find('.') == std::string::npos) {
    text += ".0";
  }
  return text;
}

} // namespace

std::string formatFloat(float value) { return format(value); }
std::string formatDouble(double value) { return format(value); }

} // namespace deduve
