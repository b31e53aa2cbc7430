#pragma once

#include <string>

// Number texts of the engine's log lines and reports, the same on every C library: a NaN is
// always "nan" (never "-nan"), infinities "inf" and "-inf".
namespace divuvovize::numbers {

// printf's "%<width>.<precision>f", right-aligned in `width` characters.
std::string fixed(double value, int precision, int width = 0);
// printf's "%<width>.0f" style used for run counts is fixed(value, 0, width).

// `value` rounded to `digits` significant digits and written in fixed notation, without
// trailing zeros or grouping: 1234.5 -> "1230", 12.345 -> "12.3", 0.01234 -> "0.0123",
// 2 -> "2". `digits` below 1 counts as 1.
std::string significant(double value, int digits);

// The shortest text that reads back as `value`, always with a fraction part or an exponent:
// 2 -> "2.0", 0.1 -> "0.1", 1e16 -> "1e+16", 1e-05 -> "1e-05" (exponent notation below 1e-4
// and beyond 2^24 for float, 2^53 for double).
std::string describe(double value);
std::string describe(float value);

// One timing-report line: "%8.2f ms / %6.0f runs (%8.2f ms/run) %5.2f%%" of time x 1000, runs,
// time x 1000 / runs (0 when runs is not positive) and time x 1000 / fullPipelineMs x 100.
std::string timeWithPercentage(double timeSeconds, double runs, double fullPipelineMs);

} // namespace divuvovize::numbers
