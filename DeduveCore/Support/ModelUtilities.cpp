#include "DeduveCore/Support/ModelUtilities.hpp"

#include <algorithm>
#include <system_error>
#include <vector>

namespace deduve {

namespace fs = std::filesystem;

fs::path ModelUtilities::detectModelURL(const fs::path &folder, const std::string &name) {
  const fs::path compiled = folder / (name + ".mlmodelc");
  const fs::path package = folder / (name + ".mlpackage") / kPackageModelPath;
  std::error_code error;
  if (fs::exists(package, error) && !fs::exists(compiled, error)) {
    return package;
  }
  return compiled;
}

fs::path ModelUtilities::detectModelURL(const fs::path &folder, const std::string &name,
                                        bool recursive) {
  if (!recursive) {
    return detectModelURL(folder, name);
  }
  const std::string wanted = name + ".mlmodelc";
  const fs::path direct = folder / wanted;
  std::error_code error;
  if (fs::exists(direct, error)) {
    return direct;
  }
  std::vector<fs::path> found;
  fs::recursive_directory_iterator walk(folder, error);
  for (auto end = fs::recursive_directory_iterator(); !error && walk != end;
       walk.increment(error)) {
    if (walk->path().filename() == wanted) {
      found.push_back(walk->path());
    }
  }
  if (found.empty()) {
    return direct;
  }
  // Directory listing order is arbitrary; the shallowest, then the first by name, wins.
  return *std::min_element(found.begin(), found.end(), [](const fs::path &a, const fs::path &b) {
    const auto depthA = std::distance(a.begin(), a.end());
    const auto depthB = std::distance(b.begin(), b.end());
    return depthA != depthB ? depthA < depthB : a < b;
  });
}

std::optional<fs::path> ModelUtilities::detectModelURL(const fs::path &folder) {
  std::error_code error;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  if (error) {
    return std::nullopt;
  }
  std::sort(entries.begin(), entries.end());
  for (const auto &entry : entries) {
    if (entry.extension() == ".mlmodelc") {
      return entry;
    }
  }
  for (const auto &entry : entries) {
    if (entry.extension() == ".mlpackage") {
      return entry / kPackageModelPath;
    }
  }
  return std::nullopt;
}

namespace {

std::optional<int> dimension(const std::map<std::string, platform::MLFeatureDescription> &features,
                             const std::string &name, int position) {
  auto it = features.find(name);
  if (it == features.end() || it->second.type != platform::MLFeatureType::multiArray ||
      !it->second.multiArrayConstraint) {
    return std::nullopt;
  }
  const auto &shape = it->second.multiArrayConstraint->shape;
  if (position < 0 || static_cast<std::size_t>(position) >= shape.size()) {
    return std::nullopt;
  }
  return shape[static_cast<std::size_t>(position)];
}

} // namespace

std::optional<int> ModelUtilities::getModelInputDimension(const platform::MLModel *model,
                                                          const std::string &named, int position) {
  if (model == nullptr) {
    return std::nullopt;
  }
  return dimension(model->description().inputDescriptionsByName, named, position);
}

std::optional<int> ModelUtilities::getModelOutputDimension(const platform::MLModel *model,
                                                           const std::string &named, int position) {
  if (model == nullptr) {
    return std::nullopt;
  }
  return dimension(model->description().outputDescriptionsByName, named, position);
}

} // namespace deduve
