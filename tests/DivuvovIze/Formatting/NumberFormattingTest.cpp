#include "DivuvovIze/Formatting/NumberFormatting.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace divuvovize {
namespace {

// Word times of long recordings run past a thousand seconds: they keep fixed notation.
TEST(NumberFormattingTest, SignificantDigitsInFixedNotation) {
  struct Case {
    double value;
    int digits;
    const char *text;
  };
  const std::vector<Case> cases = {
      {1234.5, 3, "1230"},
      {98765.4, 3, "98800"},
      {999.6, 3, "1000"}, // rounding adds a digit
      {123.4, 3, "123"},
      {12.345, 3, "12.3"},
      {9.996, 3, "10"}, // trailing zeros dropped after rounding
      {0.5, 3, "0.5"},
      {2.0, 3, "2"},
      {0.0123456, 3, "0.0123"},
      {-1234.5, 3, "-1230"},
      {-0.0001, 3, "-0.0001"},
      {0.0, 3, "0"},
      {1.0e20, 3, "100000000000000000000"},
      {1234.5, 0, "1000"}, // fewer than one digit counts as one
      {std::numeric_limits<double>::quiet_NaN(), 3, "nan"},
      {-std::numeric_limits<double>::infinity(), 3, "-inf"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(numbers::significant(c.value, c.digits), c.text) << c.value << ", " << c.digits;
  }
}

} // namespace
} // namespace divuvovize
