#include "DivuvovIze/Models/NumberFormatting.hpp"

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

std::string describe(double value) { return deduve::formatDouble(value); }

std::string describe(float value) { return deduve::formatFloat(value); }

std::string timeWithPercentage(double timeSeconds, double runs, double fullPipelineMs) {
  return deduve::Logging::formatTimeWithPercentage(timeSeconds, runs, fullPipelineMs);
}

} // namespace divuvovize::numbers
