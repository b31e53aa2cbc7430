#include "DeduveCore/Support/ModelUtilities.hpp"
#include "DeduveCore/Support/ProcessInfo.hpp"

#include "platform/ml/MLDictionaryFeatureProvider.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace deduve {
namespace {

namespace fs = std::filesystem;

constexpr const char *kPackageFile = "AudioEncoder.mlpackage/Data/com.apple.CoreML/model.mlmodel";

TEST(ModelUtilitiesTest, DetectsCompiledOrPackageModel) {
  struct Case {
    const char *name;
    bool compiled;
    bool package;
    const char *expected;
  };
  const std::vector<Case> cases = {
      {"only the package", false, true, kPackageFile},
      {"both forms", true, true, "AudioEncoder.mlmodelc"},
      {"only compiled", true, false, "AudioEncoder.mlmodelc"},
      {"neither", false, false, "AudioEncoder.mlmodelc"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    mqtest::TempDir folder;
    if (c.compiled) {
      folder.write("AudioEncoder.mlmodelc/model.json", "{}");
    }
    if (c.package) {
      folder.write(kPackageFile, "model");
    }
    EXPECT_EQ(ModelUtilities::detectModelURL(folder.path(), "AudioEncoder"),
              folder.path() / c.expected);
    EXPECT_EQ(ModelUtilities::detectModelURL(folder.path(), "AudioEncoder", false),
              folder.path() / c.expected);
  }
}

TEST(ModelUtilitiesTest, RecursiveSearchFindsNestedCompiledModel) {
  mqtest::TempDir folder;
  EXPECT_EQ(ModelUtilities::detectModelURL(folder.path(), "TextDecoder", true),
            folder.path() / "TextDecoder.mlmodelc");
  folder.write("variants/b/TextDecoder.mlmodelc/model.json", "{}");
  folder.write("variants/a/deeper/TextDecoder.mlmodelc/model.json", "{}");
  folder.write("variants/TextDecoder.mlmodelc.bak", "");
  EXPECT_EQ(ModelUtilities::detectModelURL(folder.path(), "TextDecoder", true),
            folder.path() / "variants/b/TextDecoder.mlmodelc");
  folder.write("TextDecoder.mlmodelc/model.json", "{}");
  EXPECT_EQ(ModelUtilities::detectModelURL(folder.path(), "TextDecoder", true),
            folder.path() / "TextDecoder.mlmodelc");
  EXPECT_EQ(ModelUtilities::detectModelURL(folder.path() / "missing", "TextDecoder", true),
            folder.path() / "missing/TextDecoder.mlmodelc");
}

TEST(ModelUtilitiesTest, FolderFormPrefersCompiledThenPackage) {
  mqtest::TempDir folder;
  EXPECT_EQ(ModelUtilities::detectModelURL(folder.path()), std::nullopt);
  EXPECT_EQ(ModelUtilities::detectModelURL(folder.path() / "missing"), std::nullopt);
  folder.write("notes.txt", "");
  folder.write("Model.mlpackage/Manifest.json", "{}");
  EXPECT_EQ(ModelUtilities::detectModelURL(folder.path()),
            folder.path() / "Model.mlpackage/Data/com.apple.CoreML/model.mlmodel");
  folder.write("Zeta.mlmodelc/model.json", "{}");
  EXPECT_EQ(ModelUtilities::detectModelURL(folder.path()), folder.path() / "Zeta.mlmodelc");
}

// A model that only describes itself.
class DescribedModel final : public platform::MLModel {
public:
  DescribedModel() {
    platform::MLFeatureDescription logits{"logits", platform::MLFeatureType::multiArray, false,
                                          platform::MLMultiArrayConstraint{{1, 1, 51865}}};
    platform::MLFeatureDescription cache{"key_cache", platform::MLFeatureType::multiArray, false,
                                         platform::MLMultiArrayConstraint{{1, 1536, 1, 224}}};
    platform::MLFeatureDescription noShape{"cache_length", platform::MLFeatureType::multiArray,
                                           false, std::nullopt};
    platform::MLFeatureDescription number{"count", platform::MLFeatureType::int64, false,
                                          platform::MLMultiArrayConstraint{{1}}};
    description_.inputDescriptionsByName = {
        {"key_cache", cache}, {"cache_length", noShape}, {"count", number}};
    description_.outputDescriptionsByName = {{"logits", logits}};
  }
  const platform::MLModelDescription &description() const override { return description_; }
  std::shared_ptr<platform::MLFeatureProvider>
  prediction(const platform::MLFeatureProvider &,
             const platform::MLPredictionOptions &) const override {
    return std::make_shared<platform::MLDictionaryFeatureProvider>(
        platform::MLDictionaryFeatureProvider::Dictionary{});
  }

private:
  platform::MLModelDescription description_;
};

TEST(ModelUtilitiesTest, ReadsFeatureDimensions) {
  const auto model = std::make_shared<DescribedModel>();
  EXPECT_EQ(ModelUtilities::getModelOutputDimension(model, "logits", 2), 51865);
  EXPECT_EQ(ModelUtilities::getModelInputDimension(model, "key_cache", 1), 1536);
  EXPECT_EQ(ModelUtilities::getModelInputDimension(model, "key_cache", 3), 224);
  EXPECT_EQ(ModelUtilities::getModelInputDimension(model, "logits", 2), std::nullopt);
  EXPECT_EQ(ModelUtilities::getModelOutputDimension(model, "key_cache", 1), std::nullopt);
  EXPECT_EQ(ModelUtilities::getModelInputDimension(model, "cache_length", 0), std::nullopt);
  EXPECT_EQ(ModelUtilities::getModelInputDimension(model, "count", 0), std::nullopt);
  EXPECT_EQ(ModelUtilities::getModelInputDimension(model, "key_cache", 4), std::nullopt);
  EXPECT_EQ(ModelUtilities::getModelInputDimension(nullptr, "key_cache", 1), std::nullopt);
}

TEST(HardwareInfoTest, ReadsDmiAndCpuinfoUnderARoot) {
  mqtest::TempDir root;
  root.write("sys/devices/virtual/dmi/id/product_name", "ThinkPad X1 Carbon Gen 11\n");
  root.write("proc/cpuinfo",
             "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n"
             "model name\t: Intel(R) Core(TM) i7-1365U\nphysical id\t: 0\ncore id\t\t: 0\n\n"
             "processor\t: 1\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n"
             "model name\t: Intel(R) Core(TM) i7-1365U\nphysical id\t: 0\ncore id\t\t: 0\n\n"
             "processor\t: 2\nphysical id\t: 0\ncore id\t\t: 1\n\n");
  const HardwareInfo info = HardwareInfo::read(root.path());
  EXPECT_EQ(info.hwModel, "ThinkPad X1 Carbon Gen 11");
  EXPECT_EQ(info.cpuBrand, "Intel(R) Core(TM) i7-1365U");
  EXPECT_EQ(info.cpuVendor, "GenuineIntel");
  EXPECT_EQ(info.cpuFamily, "6");
  EXPECT_EQ(info.cpuThreadCount, "3");
  EXPECT_EQ(info.cpuCoreCount, "2");
}

TEST(HardwareInfoTest, FallsBackToDeviceTreeAndLeavesMissingValuesEmpty) {
  mqtest::TempDir root;
  root.write("proc/device-tree/model", std::string("Raspberry Pi 4 Model B Rev 1.4\0", 31));
  root.write("proc/cpuinfo", "processor\t: 0\nCPU implementer\t: 0x41\n\nprocessor\t: 1\n");
  const HardwareInfo info = HardwareInfo::read(root.path());
  EXPECT_EQ(info.hwModel, "Raspberry Pi 4 Model B Rev 1.4");
  EXPECT_EQ(info.cpuVendor, "0x41");
  EXPECT_EQ(info.cpuBrand, "");
  EXPECT_EQ(info.cpuThreadCount, "2");
  EXPECT_EQ(info.cpuCoreCount, "2");

  const HardwareInfo empty = HardwareInfo::read(root.path() / "nothing");
  EXPECT_EQ(empty.hwModel, "");
  EXPECT_EQ(empty.cpuThreadCount, "");
}

TEST(HardwareInfoTest, ProcessValuesAreReadOnce) {
  EXPECT_EQ(&ProcessInfo::hwModel(), &ProcessInfo::hwModel());
  EXPECT_FALSE(ProcessInfo::hwModel().empty());
}

} // namespace
} // namespace deduve
