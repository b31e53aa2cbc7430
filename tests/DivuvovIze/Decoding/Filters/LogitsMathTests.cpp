#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "DivuvovIze/Decoding/Filters/LogitsMath.hpp"

namespace divuvovize {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(LogitsMath, MaxEntryTakesTheFirstPlaceOfTheLargestElement) {
  struct Case {
    const char *name;
    std::vector<float> values;
    float value;
    std::size_t index;
  };
  const Case cases[] = {
      {"Empty", {}, -kInf, 0},
      {"AllMasked", {-kInf, -kInf, -kInf}, -kInf, 3},
      {"NaNsSkipped", {kNaN, 1.0f, kNaN, 2.0f, kNaN}, 2.0f, 3},
      {"OnlyNaN", {kNaN, kNaN}, -kInf, 2},
      {"TieTakesTheFirst", {1.0f, 3.0f, 3.0f, -kInf, 3.0f}, 3.0f, 1},
      {"SignedZerosTie", {-1.0f, -0.0f, 0.0f}, 0.0f, 1},
      {"InfinityWins", {1.0f, kInf, 2.0f, kInf}, kInf, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const auto entry = logitsmath::maxEntry(c.values.data(), c.values.size());
    EXPECT_EQ(entry.value, c.value);
    EXPECT_EQ(entry.index, c.index);
    EXPECT_EQ(logitsmath::maxValue(c.values.data(), c.values.size()), c.value);
  }
}

// Every length around the vector widths, with the maximum at every place and a copy of it later.
TEST(LogitsMath, MaxEntryFindsTheMaximumAtEveryPlaceOfEveryLength) {
  for (std::size_t count = 1; count <= 40; ++count) {
    for (std::size_t place = 0; place < count; ++place) {
      std::vector<float> values(count);
      for (std::size_t i = 0; i < count; ++i) {
        values[i] = static_cast<float>(i % 7) - 10.0f;
      }
      values[place] = 5.0f;
      for (std::size_t later = place + 3; later < count; later += 5) {
        values[later] = 5.0f;
      }
      const auto entry = logitsmath::maxEntry(values.data(), count);
      ASSERT_EQ(entry.index, place) << "count " << count;
      ASSERT_EQ(entry.value, 5.0f);
    }
  }
}

TEST(LogitsMath, SumExpMatchesTheExactSum) {
  std::mt19937 generator(5);
  std::normal_distribution<float> spread(0.0f, 4.0f);
  for (const std::size_t count : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 100u, 51865u}) {
    std::vector<float> values(count);
    for (float &value : values) {
      value = generator() % 5 == 0 ? -kInf : spread(generator);
    }
    for (const float scale : {1.0f, 0.5f, 3.0f}) {
      const float shift = 2.0f;
      double exact = 0;
      for (const float value : values) {
        exact += value == -kInf ? 0.0 : std::exp(static_cast<double>(value) * scale - shift);
      }
      const float sum = logitsmath::sumExp(values.data(), count, scale, shift);
      // Float lanes over thousands of terms each: a few parts in a hundred thousand.
      EXPECT_NEAR(sum, exact, exact * 3e-5) << count << " x " << scale;
    }
  }
  // Exponents below -87 count as 0; above 88 the sum is infinite.
  const std::vector<float> tiny = {-90.0f, -200.0f, 0.0f};
  EXPECT_FLOAT_EQ(logitsmath::sumExp(tiny.data(), tiny.size(), 1.0f, 0.0f), 1.0f);
  const std::vector<float> huge = {100.0f};
  EXPECT_EQ(logitsmath::sumExp(huge.data(), huge.size(), 1.0f, 0.0f), kInf);
}

} // namespace
} // namespace divuvovize
