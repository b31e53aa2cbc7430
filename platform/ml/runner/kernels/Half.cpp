#include "platform/ml/runner/kernels/Half.hpp"

#include <bit>
#include <vector>

namespace platform::runner {
namespace {

float widen(std::uint16_t bits) {
  const std::uint32_t sign = static_cast<std::uint32_t>(bits & 0x8000u) << 16;
  const std::uint32_t exponent = (bits >> 10) & 0x1fu;
  std::uint32_t mantissa = bits & 0x3ffu;
  std::uint32_t result;
  if (exponent == 0) {
    if (mantissa == 0) {
      result = sign;
    } else {
      // Subnormal: shift the mantissa up until its leading one reaches the implicit bit.
      int shift = 0;
      while ((mantissa & 0x400u) == 0) {
        mantissa <<= 1;
        ++shift;
      }
      mantissa &= 0x3ffu;
      result = sign | static_cast<std::uint32_t>(127 - 15 + 1 - shift) << 23 | mantissa << 13;
    }
  } else if (exponent == 0x1f) {
    result = sign | 0x7f800000u | mantissa << 13;
  } else {
    result = sign | (exponent + (127 - 15)) << 23 | mantissa << 13;
  }
  return std::bit_cast<float>(result);
}

const std::vector<float> &table() {
  static const std::vector<float> values = [] {
    std::vector<float> all(65536);
    for (std::uint32_t i = 0; i < 65536; ++i) {
      all[i] = widen(static_cast<std::uint16_t>(i));
    }
    return all;
  }();
  return values;
}

} // namespace

float halfToFloat(std::uint16_t bits) { return widen(bits); }

std::uint16_t floatToHalf(float value) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  const std::uint16_t sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000u);
  const std::uint32_t magnitude = bits & 0x7fffffffu;
  if (magnitude >= 0x7f800000u) {
    // Infinity keeps a zero mantissa; NaN keeps a quiet mantissa bit.
    return sign | 0x7c00u | (magnitude > 0x7f800000u ? 0x200u : 0u);
  }
  if (magnitude >= 0x477ff000u) {
    return sign | 0x7c00u; // rounds to a value beyond the largest finite half
  }
  if (magnitude < 0x38800000u) {
    // Result is subnormal or zero: shift the full mantissa, rounding to nearest even.
    if (magnitude < 0x33000000u) {
      return sign;
    }
    const std::uint32_t exponent = magnitude >> 23;
    const std::uint32_t mantissa = (magnitude & 0x7fffffu) | 0x800000u;
    const std::uint32_t shift = 126 - exponent; // 14 .. 24 for this range
    std::uint32_t half = mantissa >> shift;
    const std::uint32_t remainder = mantissa & ((1u << shift) - 1);
    const std::uint32_t halfway = 1u << (shift - 1);
    if (remainder > halfway || (remainder == halfway && (half & 1u))) {
      ++half;
    }
    return sign | static_cast<std::uint16_t>(half);
  }
  std::uint32_t half = ((magnitude >> 13) - ((127 - 15) << 10));
  const std::uint32_t remainder = magnitude & 0x1fffu;
  if (remainder > 0x1000u || (remainder == 0x1000u && (half & 1u))) {
    ++half; // a carry into the exponent is the correct rounding
  }
  return sign | static_cast<std::uint16_t>(half);
}

void halfToFloat(const std::uint16_t *source, float *destination, std::size_t count) {
  const float *lookup = table().data();
  for (std::size_t i = 0; i < count; ++i) {
    destination[i] = lookup[source[i]];
  }
}

void floatToHalf(const float *source, std::uint16_t *destination, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    destination[i] = floatToHalf(source[i]);
  }
}

const float *halfToFloatTable() { return table().data(); }

} // namespace platform::runner
