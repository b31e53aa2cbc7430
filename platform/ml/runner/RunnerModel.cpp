#include "platform/ml/runner/RunnerModel.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/FeatureArrays.hpp"

#include <algorithm>

namespace platform {

namespace runner {
namespace {

MLFeatureDescription describe(const FeatureSpec &declared) {
  MLFeatureDescription feature;
  feature.name = declared.name;
  feature.type = MLFeatureType::multiArray;
  feature.multiArrayConstraint = MLMultiArrayConstraint{
      MLMultiArray::Shape(declared.shape.begin(), declared.shape.end()), declared.dataType};
  return feature;
}

} // namespace

RunnerModel::RunnerModel(std::filesystem::path folder, ModelConfig config)
    : folder_(std::move(folder)), name_(folder_.filename().string()), config_(std::move(config)) {
  if (name_.empty()) {
    name_ = folder_.parent_path().filename().string();
  }
  for (const auto &input : config_.inputs) {
    description_.inputDescriptionsByName.emplace(input.name, describe(input));
  }
  for (const auto &output : config_.outputs) {
    description_.outputDescriptionsByName.emplace(output.name, describe(output));
  }
  description_.metadata["kind"] = kindName(config_.kind);
  description_.metadata["runner"] = "cpu";
}

const FeatureSpec *RunnerModel::output(std::string_view feature) const {
  const auto found =
      std::find_if(config_.outputs.begin(), config_.outputs.end(),
                   [&](const FeatureSpec &declared) { return declared.name == feature; });
  return found == config_.outputs.end() ? nullptr : &*found;
}

void RunnerModel::checkOutputBackings(const MLPredictionOptions &options) const {
  if (!options.outputBackings) {
    return;
  }
  for (const auto &[outputName, value] : options.outputBackings->dictionary()) {
    const FeatureSpec *feature = output(outputName);
    if (feature == nullptr) {
      throw MLModelError(MLModelError::Code::featureType,
                         name() + ": output backing " + outputName + " names no output");
    }
    const MLMultiArray *array = value.multiArrayPointer();
    if (array == nullptr) {
      throw MLModelError(MLModelError::Code::featureType,
                         name() + ": output backing " + outputName + " is not a multi-array");
    }
    checkFeatureArray(name(), "output backing", *array, *feature);
  }
}

float *RunnerModel::floatBacking(const MLPredictionOptions &options,
                                 const FeatureSpec &feature) const {
  if (!options.outputBackings) {
    return nullptr;
  }
  const MLFeatureValue *backing = options.outputBackings->storedFeatureValue(feature.name);
  const MLMultiArray *array = backing != nullptr ? backing->multiArrayPointer() : nullptr;
  if (array == nullptr || array->dataType() != MLMultiArrayDataType::float32 ||
      !array->isContiguous()) {
    return nullptr;
  }
  return static_cast<float *>(array->dataPointer());
}

std::shared_ptr<MLFeatureProvider>
RunnerModel::results(const MLPredictionOptions &options,
                     std::initializer_list<ComputedOutput> outputs) const {
  const MLDictionaryFeatureProvider *backings = options.outputBackings.get();
  bool allBacked = backings != nullptr;
  for (const auto &out : outputs) {
    const MLFeatureValue *backing =
        backings != nullptr ? backings->storedFeatureValue(out.feature->name) : nullptr;
    if (backing != nullptr) {
      copyFromFloats(out.values, *backing->multiArrayPointer());
      backing->multiArrayPointer()->markContentsChanged();
    } else {
      allBacked = false;
    }
  }
  if (allBacked) {
    return options.outputBackings;
  }
  MLDictionaryFeatureProvider::Dictionary result;
  for (const auto &out : outputs) {
    const MLFeatureValue *backing =
        backings != nullptr ? backings->storedFeatureValue(out.feature->name) : nullptr;
    result.emplace(out.feature->name, backing != nullptr
                                          ? *backing
                                          : MLFeatureValue(outputArray(*out.feature, out.values)));
  }
  return std::make_shared<MLDictionaryFeatureProvider>(std::move(result));
}

} // namespace runner
} // namespace platform
