#include "platform/ml/MLComputeUnits.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"
#include "platform/ml/MLTensor.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
namespace {

TEST(MLDictionaryFeatureProviderTest, AnswersItsNamesOnlyCaseSensitively) {
  const MLMultiArray logits({1, 1, 4}, MLMultiArrayDataType::float32);
  const MLDictionaryFeatureProvider provider(
      {{"logits", MLFeatureValue(logits)}, {"cache_length", MLFeatureValue(std::int64_t{7})}});
  EXPECT_EQ(provider.featureNames(), (std::set<std::string>{"cache_length", "logits"}));

  const auto value = provider.featureValue("logits");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type(), MLFeatureType::multiArray);
  ASSERT_TRUE(value->multiArrayValue().has_value());
  EXPECT_EQ(value->multiArrayValue()->dataPointer(), logits.dataPointer()); // shared, not copied
  EXPECT_FALSE(value->int64Value().has_value());
  EXPECT_EQ(provider.featureValue("cache_length")->int64Value(), 7);
  EXPECT_FALSE(provider.featureValue("Logits").has_value());
  EXPECT_FALSE(provider.featureValue("unknown").has_value());
  EXPECT_TRUE(MLFeatureValue().isUndefined());
}

TEST(MLComputeUnitsTest, Texts) {
  struct Case {
    MLComputeUnits units;
    const char *description;
    const char *displayName;
  };
  const std::vector<Case> cases = {
      {MLComputeUnits::cpuOnly, "cpuOnly", "CPU"},
      {MLComputeUnits::cpuAndGPU, "cpuAndGPU", "GPU"},
      {MLComputeUnits::all, "all", "All"},
      {MLComputeUnits::cpuAndNeuralEngine, "cpuAndNeuralEngine", "Neural Engine"},
      {static_cast<MLComputeUnits>(9), "unknown", "Unknown"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(description(c.units), c.description);
    EXPECT_EQ(displayName(c.units), c.displayName);
  }
}

TEST(MLTensorTest, ConvertsFloatAndInt32Scalars) {
  const MLTensor indices({1, 3}, std::vector<std::int32_t>{4, -1, 50256});
  EXPECT_EQ(indices.toIntArray(), (std::vector<int>{4, -1, 50256}));
  EXPECT_EQ(indices.toFloatArray(), (std::vector<float>{4, -1, 50256}));
  EXPECT_EQ(indices.toMLMultiArray().dataType(), MLMultiArrayDataType::int32);

  const MLTensor probabilities({3}, std::vector<float>{0.25f, 0.5f, 0.25f});
  EXPECT_EQ(probabilities.toFloatArray(), (std::vector<float>{0.25f, 0.5f, 0.25f}));
  const MLMultiArray array = probabilities.toMLMultiArray();
  EXPECT_EQ(array.dataType(), MLMultiArrayDataType::float32);
  EXPECT_EQ(array.value(1), 0.5);

  // A tensor owns its scalars: later changes to the source array do not reach it.
  MLMultiArray source({2}, MLMultiArrayDataType::float32);
  const MLTensor copy(source);
  source.setValue(0, 9);
  EXPECT_EQ(copy.toFloatArray(), (std::vector<float>{0, 0}));
}

TEST(MLTensorTest, OtherScalarTypesAreRejectedByName) {
  const MLTensor half({2}, std::vector<Float16>{Float16(1), Float16(2)});
  for (auto convert : {+[](const MLTensor &t) { (void)t.toFloatArray(); },
                       +[](const MLTensor &t) { (void)t.toIntArray(); },
                       +[](const MLTensor &t) { (void)t.toMLMultiArray(); }}) {
    try {
      convert(half);
      FAIL() << "expected a rejection";
    } catch (const std::invalid_argument &error) {
      EXPECT_STREQ(error.what(), "Unsupported scalar type: Float16");
    }
  }
  EXPECT_THROW(MLTensor({2, 2}, std::vector<float>{1, 2, 3}), std::invalid_argument);
}

} // namespace
} // namespace platform
