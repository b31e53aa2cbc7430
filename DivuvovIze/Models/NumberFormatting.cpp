#include "DivuvovIze/Models/NumberFormatting.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "DeduveCore/Support/Logging.hpp"

namespace divuvovize::numbers {

namespace {

std::string padLeft(std::string text, int width) {
  if (width > 0 && static_cast<int>(text.size()) < width) {
    text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  }
  return text;
}

std::string nonFinite(double value) {
  if (std::isnan(value)) {
    return "nan";
  }
  return value > 0 ? "inf" : "-inf";
}

// Shortest round-trip digits of `text` ("1.5e+16" style from to_chars) rewritten in the
// platform's description style.
std::string describeShortest(std::string_view shortest, double magnitude) {
  // to_chars gives the shortest digits; pick fixed or exponent form by the value's magnitude.
  const bool useExponent = magnitude != 0 && (magnitude >= 1e16 || magnitude < 1e-4);
  std::string digits(shortest);
  if (!useExponent) {
    if (digits.find_first_of("e") != std::string::npos) {
      // Re-render the shortest value in plain notation.
      const double value = std::strtod(digits.c_str(), nullptr);
      char buffer[512];
      const auto r =
          std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed);
      digits.assign(buffer, r.ptr);
    }
    if (digits.find('.') == std::string::npos) {
      digits += ".0";
    }
    return digits;
  }
  const double value = std::strtod(digits.c_str(), nullptr);
  char buffer[64];
  const auto r =
      std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::scientific);
  std::string text(buffer, r.ptr);
  // Exponent with at least two digits: "1e+16", "1e-05".
  const auto e = text.find('e');
  std::string mantissa = text.substr(0, e);
  char sign = text[e + 1];
  std::string exponent = text.substr(e + 2);
  if (exponent.size() < 2) {
    exponent.insert(0, 2 - exponent.size(), '0');
  }
  return mantissa + "e" + sign + exponent;
}

} // namespace

std::string fixed(double value, int precision, int width) {
  if (!std::isfinite(value)) {
    return padLeft(nonFinite(value), width);
  }
  char buffer[512];
  std::snprintf(buffer, sizeof(buffer), "%*.*f", width, precision, value);
  return buffer;
}

std::string describe(double value) {
  if (!std::isfinite(value)) {
    return nonFinite(value);
  }
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return describeShortest(std::string_view(buffer, static_cast<std::size_t>(r.ptr - buffer)),
                          std::fabs(value));
}

std::string describe(float value) {
  if (!std::isfinite(value)) {
    return nonFinite(value);
  }
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return describeShortest(std::string_view(buffer, static_cast<std::size_t>(r.ptr - buffer)),
                          std::fabs(static_cast<double>(value)));
}

std::string timeWithPercentage(double timeSeconds, double runs, double fullPipelineMs) {
  return deduve::Logging::formatTimeWithPercentage(timeSeconds, runs, fullPipelineMs);
}

} // namespace divuvovize::numbers
