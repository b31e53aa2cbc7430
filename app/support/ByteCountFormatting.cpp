#include "app/support/ByteCountFormatting.hpp"

#include <array>
#include <cmath>
#include <cstdio>

namespace murmurquill {

std::string byteCountText(std::int64_t bytes) {
  const bool negative = bytes < 0;
  const double magnitude = std::fabs(static_cast<double>(bytes));
  const std::string sign = negative ? "-" : "";
  if (magnitude < 1000.0) {
    return sign + std::to_string(static_cast<std::int64_t>(magnitude)) +
           (magnitude == 1.0 ? " byte" : " bytes");
  }
  static constexpr std::array<const char *, 5> kUnits{"KB", "MB", "GB", "TB", "PB"};
  double value = magnitude / 1000.0;
  std::size_t unit = 0;
  while (unit + 1 < kUnits.size()) {
    const int decimals = unit == 0 ? 0 : (unit == 1 ? 1 : 2);
    const double scale = std::pow(10.0, decimals);
    // Move up when rounding would show 1000 of this unit.
    if (std::round(value * scale) / scale < 1000.0) {
      break;
    }
    value /= 1000.0;
    ++unit;
  }
  const int decimals = unit == 0 ? 0 : (unit == 1 ? 1 : 2);
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string number = text;
  if (number.find('.') != std::string::npos) {
    while (number.back() == '0') {
      number.pop_back();
    }
    if (number.back() == '.') {
      number.pop_back();
    }
  }
  return sign + number + " " + kUnits[unit];
}

} // namespace murmurquill
