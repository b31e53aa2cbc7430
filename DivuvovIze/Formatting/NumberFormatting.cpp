#include "DivuvovIze/Formatting/NumberFormatting.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "DeduveCore/Support/Description.hpp"
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

} // namespace

std::string fixed(double value, int precision, int width) {
  if (!std::isfinite(value)) {
    return padLeft(nonFinite(value), width);
  }
  char buffer[512];
  std::snprintf(buffer, sizeof(buffer), "%*.*f", width, precision, value);
  return buffer;
}

std::string significant(double value, int digits) {
  if (!std::isfinite(value)) {
    return nonFinite(value);
  }
  if (value == 0) {
    return "0";
  }
  digits = std::max(digits, 1);
  const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(value))));
  const int decimals = digits - 1 - exponent;
  char buffer[512];
  if (decimals <= 0) {
    // Whole digits beyond the significant ones are zeros.
    const double unit = std::pow(10.0, -decimals);
    std::snprintf(buffer, sizeof(buffer), "%.0f", std::round(value / unit) * unit);
    return buffer;
  }
  std::snprintf(buffer, sizeof(buffer), "%.*f", decimals, value);
  std::string text = buffer;
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') {
    text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

std::string describe(double value) { return deduve::formatDouble(value); }

std::string describe(float value) { return deduve::formatFloat(value); }

std::string timeWithPercentage(double timeSeconds, double runs, double fullPipelineMs) {
  return deduve::Logging::formatTimeWithPercentage(timeSeconds, runs, fullPipelineMs);
}

} // namespace divuvovize::numbers
