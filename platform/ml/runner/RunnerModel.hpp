#pragma once

#include "platform/ml/MLModel.hpp"
#include "platform/ml/runner/formats/ModelConfig.hpp"

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

namespace runner {

// What the three runner models share: the checked configuration and the description built from
// it.
class RunnerModel : public MLModel {
public:
  RunnerModel(std::filesystem::path folder, ModelConfig config);

  const MLModelDescription &description() const override { return description_; }
  const ModelConfig &config() const { return config_; }
  const std::filesystem::path &folder() const { return folder_; }

protected:
  // "<folder name>" for messages.
  const std::string &name() const { return name_; }
  const FeatureSpec *output(std::string_view feature) const;

  // Refuses (MLModelError featureType) an output backing that names no output of this model or
  // does not fit it. Called before anything is computed or written.
  void checkOutputBackings(const MLPredictionOptions &options) const;

  // The storage of the caller's backing for `feature` when it can take the floats as they are
  // computed (float32, contiguous), else null. Computing an output straight into it saves the
  // copy, which for the decoder's logits is a serial pass over a vocabulary of floats that the
  // other threads' caches still hold.
  float *floatBacking(const MLPredictionOptions &options, const FeatureSpec &feature) const;

  // One computed output: its feature and its values (row-major floats, the feature's count).
  struct ComputedOutput {
    const FeatureSpec *feature;
    const float *values;
  };
  // The prediction's result: each output written into its backing when the caller gave one,
  // else into a new array. When the backings cover every output the result is the backings'
  // own provider and nothing is allocated.
  std::shared_ptr<MLFeatureProvider> results(const MLPredictionOptions &options,
                                             std::initializer_list<ComputedOutput> outputs) const;

private:
  std::filesystem::path folder_;
  std::string name_;
  ModelConfig config_;
  MLModelDescription description_;
};

} // namespace runner
} // namespace platform
