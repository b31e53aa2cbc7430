#include "platform/ml/MLModelError.hpp"
#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/MLShapedArray.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace {

using Shape = MLMultiArray::Shape;

TEST(MLMultiArrayTest, Float16WithInitialValueIsPixelBufferBacked) {
  for (float initial : {0.0f, 0.5f, -2.0f}) {
    SCOPED_TRACE(initial);
    const MLMultiArray array({1, 4, 1, 3}, MLMultiArrayDataType::float16, initial);
    ASSERT_TRUE(array.pixelBuffer().has_value());
    EXPECT_EQ(array.pixelBuffer()->width(), 3);
    EXPECT_EQ(array.pixelBuffer()->height(), 4);
    EXPECT_EQ(array.dataPointer(), array.pixelBuffer()->baseAddress());
    EXPECT_EQ(array.count(), 12);
    EXPECT_EQ(array.strides(), (Shape{12, 3, 3, 1}));
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(array.value(i), initial) << "element " << i;
    }
  }
  // A one-dimensional shape gives one row.
  const MLMultiArray row({5}, MLMultiArrayDataType::float16, 1.0f);
  EXPECT_EQ(row.pixelBuffer()->height(), 1);
  EXPECT_EQ(row.pixelBuffer()->width(), 5);
}

TEST(MLMultiArrayTest, Float16WithoutPixelBufferThrowsCreationError) {
  // The last has too many elements for an array: refused without taking its 8 GiB.
  for (const Shape &shape : {Shape{}, Shape{1, 0, 3}, Shape{2, 0}, Shape{1 << 20, 1 << 12}}) {
    SCOPED_TRACE(shape.size());
    try {
      MLMultiArray array(shape, MLMultiArrayDataType::float16, 0.0f);
      FAIL() << "expected MLMultiArrayCreationError";
    } catch (const MLMultiArrayCreationError &error) {
      EXPECT_STREQ(error.what(), "Failed to create IOSurface-backed pixel buffer for MLMultiArray");
      EXPECT_EQ(error.code(), MLMultiArrayCreationError::Code::pixelBufferFailed);
    }
  }
}

TEST(MLMultiArrayTest, InitialValueFillsOnlyWhenItsTypeMatches) {
  struct Case {
    const char *name;
    MLMultiArray array;
    double expected;
  };
  const std::vector<Case> cases = {
      {"float32 with float", MLMultiArray({2, 3}, MLMultiArrayDataType::float32, 1.5f), 1.5},
      {"float32 with Int32", MLMultiArray({2, 3}, MLMultiArrayDataType::float32, std::int32_t{7}),
       0},
      {"float32 with double", MLMultiArray({2, 3}, MLMultiArrayDataType::float32, 1.5), 0},
      {"float64 with double", MLMultiArray({2, 3}, MLMultiArrayDataType::float64, 2.25), 2.25},
      {"int32 with Int32", MLMultiArray({2, 3}, MLMultiArrayDataType::int32, std::int32_t{-4}), -4},
      {"int32 with int64", MLMultiArray({2, 3}, MLMultiArrayDataType::int32, std::int64_t{4}), 0},
      {"int8 with Int8", MLMultiArray({2, 3}, MLMultiArrayDataType::int8, std::int8_t{5}), 5},
      {"int8 with text", MLMultiArray({2, 3}, MLMultiArrayDataType::int8, std::string("5")), 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.array.pixelBuffer().has_value());
    for (int i = 0; i < c.array.count(); ++i) {
      EXPECT_EQ(c.array.value(i), c.expected) << "element " << i;
    }
  }
}

TEST(MLMultiArrayTest, PlainCreationRejectsBadShapes) {
  // The last: no element, but its strides would not fit an int.
  for (const Shape &shape : {Shape{}, Shape{2, -1}, Shape{0, 100000, 100000}}) {
    EXPECT_THROW(MLMultiArray(shape, MLMultiArrayDataType::float32), MLModelError);
  }
  EXPECT_THROW(MLMultiArray({2, 3}, MLMultiArrayDataType::float32, Shape{3}), MLModelError);
  EXPECT_EQ(MLMultiArray({2, 0}, MLMultiArrayDataType::int32).count(), 0);
}

TEST(MLMultiArrayTest, LinearOffset) {
  const MLMultiArray array({1, 3, 4}, MLMultiArrayDataType::float32);
  EXPECT_EQ(array.strides(), (Shape{12, 4, 1}));
  EXPECT_EQ(array.linearOffset({0, 2, 3}, Shape{12, 4, 1}), 11);
  EXPECT_EQ(array.linearOffset({1, 1}, Shape{12, 4, 1}), 16);
  EXPECT_EQ(array.linearOffset({0, 2, 3}), 11);
  EXPECT_EQ(array.linearOffset({0, 1, 2, 9}), 6); // positions beyond the strides are ignored
  EXPECT_THROW(array.linearOffset({2, 0}, Shape{1 << 30, 1}), std::overflow_error);
}

TEST(MLMultiArrayTest, FillWritesAtEachIndexThroughTheStrides) {
  const MLMultiArray logits({1, 1, 6}, MLMultiArrayDataType::float32, Shape{6, 6, 1});
  logits.fill<float>({{0, 0, 1}, {0, 0, 4}}, -INFINITY);
  const std::vector<float> expected = {0, -INFINITY, 0, 0, -INFINITY, 0};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(logits.data<float>()[i], expected[static_cast<std::size_t>(i)]) << "element " << i;
  }

  // A gapped layout: the second dimension steps over 4 elements though it holds 3.
  const MLMultiArray gapped({2, 3}, MLMultiArrayDataType::int32, Shape{4, 1});
  gapped.fill<std::int32_t>({{1, 2}}, 9);
  EXPECT_EQ(gapped.data<std::int32_t>()[6], 9);
  EXPECT_EQ(gapped.value({1, 2}), 9);
}

TEST(MLMultiArrayTest, FillRejectsBadIndexesWithoutWriting) {
  const MLMultiArray logits({1, 1, 6}, MLMultiArrayDataType::float32);
  const std::vector<std::vector<Shape>> bad = {
      {{0, 0, 2}, {0, 0, 6}}, // past the last dimension, after a valid one
      {{0, 0, -1}},
      {{0, 1, 0}},
      {{0, 0}}, // wrong rank
  };
  for (const auto &indexes : bad) {
    SCOPED_TRACE(indexes.back().size());
    EXPECT_THROW(logits.fill<float>(indexes, 5.0f), std::out_of_range);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(logits.value(i), 0) << "element " << i << " was written";
    }
  }
  EXPECT_THROW(logits.fill<double>({{0, 0, 0}}, 1.0), std::invalid_argument);
}

TEST(MLMultiArrayTest, FillLastDimensionWritesOnlyTheRange) {
  const MLMultiArray logits({1, 1, 6}, MLMultiArrayDataType::float32, Shape{6, 6, 1});
  logits.fillLastDimension(2, 4, -10000.0f);
  const std::vector<double> expected = {0, 0, -10000, -10000, 0, 0};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(logits.value(i), expected[static_cast<std::size_t>(i)]) << "element " << i;
  }
  logits.fillLastDimension(6, 6, 1.0f); // an empty range at the end is fine

  for (auto [lower, upper] : {std::pair{5, 7}, std::pair{-1, 2}, std::pair{4, 3}}) {
    SCOPED_TRACE(std::to_string(lower) + " ..< " + std::to_string(upper));
    EXPECT_THROW(logits.fillLastDimension(lower, upper, 1.0f), std::out_of_range);
  }
  EXPECT_EQ(logits.value(5), 0);
  EXPECT_THROW(MLMultiArray({1, 6}, MLMultiArrayDataType::float32).fillLastDimension(0, 1, 1),
               std::invalid_argument);
  EXPECT_THROW(MLMultiArray({1, 1, 6}, MLMultiArrayDataType::float16).fillLastDimension(0, 1, 1),
               std::invalid_argument);
}

TEST(MLMultiArrayTest, FromIntegersMakesInt32RowOfTheGivenRank) {
  const MLMultiArray ids = MLMultiArray::from({50258, 50259, -3}, 3);
  EXPECT_EQ(ids.shape(), (Shape{1, 1, 3}));
  EXPECT_EQ(ids.dataType(), MLMultiArrayDataType::int32);
  EXPECT_EQ(ids.value({0, 0, 1}), 50259);
  EXPECT_EQ(ids.value(2), -3);
  EXPECT_EQ(MLMultiArray::from({}, 1).shape(), (Shape{0}));
  EXPECT_THROW(MLMultiArray::from({1}, 0), std::invalid_argument);
}

TEST(MLMultiArrayTest, CopiesShareStorageDeepCopiesDoNot) {
  const MLMultiArray original({2, 2}, MLMultiArrayDataType::float32);
  const MLMultiArray shared = original;
  const MLMultiArray independent = original.deepCopy();
  shared.setValue({1, 1}, 3.0);
  EXPECT_EQ(original.value({1, 1}), 3.0);
  EXPECT_EQ(independent.value({1, 1}), 0.0);
  EXPECT_THROW(original.value({2, 0}), std::out_of_range);
  EXPECT_THROW(original.data<std::int32_t>(), std::invalid_argument);
}

// Caches of what was computed from an array's elements key on its stamp: every copy of the handle
// sees one stamp, every write through the array's own setters gives a new one, and no two arrays
// ever share one.
TEST(MLMultiArrayTest, TheContentStampIsSharedByCopiesAndRenewedByEveryWrite) {
  EXPECT_EQ(MLMultiArray().contentStamp(), 0u);
  const MLMultiArray array({1, 1, 4}, MLMultiArrayDataType::float32);
  const MLMultiArray copy = array;
  EXPECT_NE(array.contentStamp(), 0u);
  EXPECT_EQ(copy.contentStamp(), array.contentStamp());
  EXPECT_NE(array.deepCopy().contentStamp(), array.contentStamp());
  EXPECT_NE(MLMultiArray({1, 1, 4}, MLMultiArrayDataType::float32).contentStamp(),
            array.contentStamp());

  const std::vector<std::pair<std::string, std::function<void()>>> writes = {
      {"setValue by position", [&] { copy.setValue(1, 2.0); }},
      {"setValue by index",
       [&] {
         copy.setValue({0, 0, 2}, 3.0);
       }},
      {"fill",
       [&] {
         copy.fill<float>({{0, 0, 3}}, 4.0f);
       }},
      {"fillLastDimension", [&] { copy.fillLastDimension(0, 2, 5.0f); }},
      {"a raw write, marked", [&] {
         copy.data<float>()[0] = 6.0f;
         copy.markContentsChanged();
       }}};
  for (const auto &[name, write] : writes) {
    const auto before = array.contentStamp();
    write();
    EXPECT_NE(array.contentStamp(), before) << name;
    EXPECT_EQ(copy.contentStamp(), array.contentStamp()) << name;
  }
  const auto before = array.contentStamp();
  EXPECT_THROW(array.setValue({0, 0, 4}, 1.0), std::out_of_range);
  EXPECT_EQ(array.contentStamp(), before);
}

TEST(MLShapedArrayTest, ReadsRowMajorWhateverTheStrides) {
  const MLMultiArray gapped({2, 2}, MLMultiArrayDataType::float32, Shape{3, 1});
  for (int i = 0; i < 4; ++i) {
    gapped.setValue(i, i + 1);
  }
  const MLShapedArray<float> shaped(gapped);
  EXPECT_EQ(shaped.scalars, (std::vector<float>{1, 2, 3, 4}));
  const MLMultiArray back = shaped.toMLMultiArray();
  EXPECT_TRUE(back.isContiguous());
  EXPECT_EQ(back.value({1, 0}), 3);
  EXPECT_THROW(MLShapedArray<float>({2, 2}, {1, 2, 3}), std::invalid_argument);
  EXPECT_THROW(MLShapedArray<std::int32_t>{gapped}, std::invalid_argument);
}

} // namespace
} // namespace platform
