#include "DivuvovIze/Models/ModelUtilities.hpp"

#include <algorithm>

#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/ModelVariant.hpp"

namespace divuvovize {

ModelSupport ModelUtilities::modelSupport(const std::string &deviceName,
                                          const std::optional<ModelSupportConfig> &config) {
  if (config) {
    return config->modelSupport(deviceName);
  }
  return Constants::fallbackModelSupportConfig().modelSupport(deviceName);
}

std::vector<std::string>
ModelUtilities::formatModelFiles(const std::vector<std::string> &modelFiles) {
  return sortModelsBySizeOrder(modelFiles);
}

std::vector<std::string> trimTrailingSlashes(const std::set<std::string> &prefixes) {
  std::vector<std::string> trimmed;
  trimmed.reserve(prefixes.size());
  for (const auto &prefix : prefixes) {
    if (!prefix.empty() && prefix.back() == '/') {
      trimmed.push_back(prefix.substr(0, prefix.size() - 1));
    } else {
      trimmed.push_back(prefix);
    }
  }
  return trimmed;
}

std::vector<std::string> sortModelsBySizeOrder(const std::vector<std::string> &names) {
  std::vector<std::string> filters;
  for (const auto variant : allModelVariants) {
    const std::string text(description(variant));
    filters.push_back(text.find("large") != std::string::npos ? text : text + "/");
  }
  std::set<std::string> prefixes;
  for (const auto &name : names) {
    const std::string prefix = name.substr(0, name.find('/')) + "/";
    const bool kept = std::any_of(filters.begin(), filters.end(), [&prefix](const std::string &f) {
      return prefix.find(f) != std::string::npos;
    });
    if (kept) {
      prefixes.insert(prefix);
    }
  }
  std::vector<std::string> models = trimTrailingSlashes(prefixes);

  const auto baseIndex = [](const std::string &name) {
    std::size_t index = 0;
    for (const auto variant : allModelVariants) {
      if (name.find(description(variant)) != std::string::npos) {
        return index;
      }
      ++index;
    }
    return allModelVariants.size();
  };
  std::sort(models.begin(), models.end(), [&baseIndex](const std::string &a, const std::string &b) {
    const auto ia = baseIndex(a);
    const auto ib = baseIndex(b);
    return ia != ib ? ia < ib : a < b;
  });
  return models;
}

} // namespace divuvovize
