#pragma once

#include "platform/ml/MLModel.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace deduve {

// Finding model files in a model folder and reading their feature sizes.
struct ModelUtilities {
  // folder/<name>.mlpackage/Data/com.apple.CoreML/model.mlmodel when that file exists and
  // folder/<name>.mlmodelc does not; otherwise folder/<name>.mlmodelc, whether or not it exists.
  static std::filesystem::path detectModelURL(const std::filesystem::path &folder,
                                              const std::string &name);
  // With `recursive`: folder/<name>.mlmodelc when it exists, else the first entry named
  // <name>.mlmodelc found walking the folder tree (in name order), else folder/<name>.mlmodelc.
  // Without: as above.
  static std::filesystem::path detectModelURL(const std::filesystem::path &folder,
                                              const std::string &name, bool recursive);
  // The first direct entry (in name order) with the extension "mlmodelc", else the first
  // ".mlpackage" with "Data/com.apple.CoreML/model.mlmodel" appended; absent when there is
  // neither or the folder cannot be listed.
  static std::optional<std::filesystem::path> detectModelURL(const std::filesystem::path &folder);

  // Entry `position` of the named input's (output's) multi-array shape; absent when there is
  // no model, no such feature, no multi-array constraint, or the position is outside the shape.
  static std::optional<int> getModelInputDimension(const platform::MLModel *model,
                                                   const std::string &named, int position);
  static std::optional<int> getModelOutputDimension(const platform::MLModel *model,
                                                    const std::string &named, int position);
  static std::optional<int> getModelInputDimension(const std::shared_ptr<platform::MLModel> &model,
                                                   const std::string &named, int position) {
    return getModelInputDimension(model.get(), named, position);
  }
  static std::optional<int> getModelOutputDimension(const std::shared_ptr<platform::MLModel> &model,
                                                    const std::string &named, int position) {
    return getModelOutputDimension(model.get(), named, position);
  }

  static constexpr const char *kPackageModelPath = "Data/com.apple.CoreML/model.mlmodel";
};

} // namespace deduve
