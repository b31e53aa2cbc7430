#include "platform/ml/MLDictionaryFeatureProvider.hpp"

namespace platform {

MLDictionaryFeatureProvider::MLDictionaryFeatureProvider(
    const std::map<std::string, MLMultiArray> &arrays) {
  for (const auto &[name, array] : arrays) {
    dictionary_.emplace(name, MLFeatureValue(array));
  }
}

std::set<std::string> MLDictionaryFeatureProvider::featureNames() const {
  std::set<std::string> names;
  for (const auto &entry : dictionary_) {
    names.insert(entry.first);
  }
  return names;
}

std::optional<MLFeatureValue>
MLDictionaryFeatureProvider::featureValue(const std::string &name) const {
  if (auto it = dictionary_.find(name); it != dictionary_.end()) {
    return it->second;
  }
  return std::nullopt;
}

const MLFeatureValue *
MLDictionaryFeatureProvider::storedFeatureValue(const std::string &name) const {
  const auto it = dictionary_.find(name);
  return it == dictionary_.end() ? nullptr : &it->second;
}

} // namespace platform
