#include "DivuvovIze/Decoding/Model/WhisperMLModel.hpp"

#include <gtest/gtest.h>

#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

namespace divuvovize {
namespace {

class Component : public WhisperMLModel {
public:
  std::shared_ptr<platform::MLModel> model() const override { return model_; }
  void setModel(std::shared_ptr<platform::MLModel> model) override { model_ = std::move(model); }

private:
  std::shared_ptr<platform::MLModel> model_;
};

TEST(WhisperMLModelTest, LoadPrewarmUnloadAndFailedLoad) {
  mqtest::TempDir dir;
  const auto folder =
      platform::runner::writeMelSpectrogramModel(dir.path(), platform::runner::TestModelOptions{});
  Component component;
  EXPECT_EQ(component.modelState(), ModelState::unloaded);

  component.loadModel(folder, platform::MLComputeUnits::cpuAndGPU, /*prewarmMode=*/true);
  EXPECT_EQ(component.modelState(), ModelState::unloaded); // loaded, then dropped

  component.loadModel(folder, platform::MLComputeUnits::cpuAndGPU, /*prewarmMode=*/false);
  EXPECT_EQ(component.modelState(), ModelState::loaded);
  const auto loaded = component.model();

  // A failed load throws and keeps the model that was there.
  EXPECT_ANY_THROW(component.loadModel(dir / "Missing.mlmodelc", platform::MLComputeUnits::all,
                                       /*prewarmMode=*/false));
  EXPECT_EQ(component.model(), loaded);

  component.unloadModel();
  EXPECT_EQ(component.modelState(), ModelState::unloaded);

  // Through the loading contract, the two-argument load is a load for use.
  deduve::MLModelLoading &loading = component;
  loading.loadModel(folder, platform::MLComputeUnits::cpuOnly);
  EXPECT_EQ(component.modelState(), ModelState::loaded);
  loading.unloadModel();
  EXPECT_EQ(component.modelState(), ModelState::unloaded);
}

} // namespace
} // namespace divuvovize
