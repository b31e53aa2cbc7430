#pragma once

#include <concepts>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

namespace deduve {

// Shortest text that reads back as the same number, with ".0" added to whole numbers
// ("1.0", "0.1", "100000.0", "inf", "nan"); exponent notation below 1e-4 and beyond 2^24
// (float) or 2^53 (double): "1e-05", "1.6777218e+07", "1e+20".
std::string formatFloat(float value);
std::string formatDouble(double value);

template <class T>
concept HasDescription = requires(const T &value) {
  { value.description() } -> std::convertible_to<std::string>;
};

// The text of a value as it appears in a log line: strings as they are, booleans as
// "true"/"false", floating-point numbers by formatFloat/formatDouble, types with a
// description() member by it, anything else by operator<<.
template <class T> std::string describe(const T &value) {
  using V = std::remove_cvref_t<T>;
  if constexpr (std::is_convertible_v<const V &, std::string_view>) {
    return std::string(std::string_view(value));
  } else if constexpr (std::is_same_v<V, bool>) {
    return value ? "true" : "false";
  } else if constexpr (std::is_same_v<V, float>) {
    return formatFloat(value);
  } else if constexpr (std::is_same_v<V, double>) {
    return formatDouble(value);
  } else if constexpr (std::is_same_v<V, char>) {
    return std::string(1, value);
  } else if constexpr (std::is_integral_v<V>) {
    return std::to_string(value);
  } else if constexpr (HasDescription<V>) {
    return value.description();
  } else {
    std::ostringstream out;
    out << value;
    return out.str();
  }
}

} // namespace deduve
