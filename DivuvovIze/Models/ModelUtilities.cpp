#include "DivuvovIze/Models/ModelUtilities.hpp"

#include <algorithm>
#include <system_error>

#include "DivuvovIze/Logging/ModelsLog.hpp"
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

ModelVariant ModelUtilities::modelVariant(int logitsSize, int encoderEmbedSize) {
  switch (logitsSize) {
  case 51864:
    switch (encoderEmbedSize) {
    case 384:
      return ModelVariant::tinyEn;
    case 768:
      return ModelVariant::smallEn;
    case 1024:
      return ModelVariant::mediumEn;
    default:
      return ModelVariant::baseEn;
    }
  case 51865:
    switch (encoderEmbedSize) {
    case 384:
      return ModelVariant::tiny;
    case 768:
      return ModelVariant::small;
    case 1024:
      return ModelVariant::medium;
    case 1280:
      return ModelVariant::largev2;
    default:
      return ModelVariant::base;
    }
  case 51866:
    return ModelVariant::largev3;
  default:
    modelslog::error("Unrecognized vocabulary size: " + std::to_string(logitsSize) +
                     ", defaulting to base variant");
    return ModelVariant::base;
  }
}

std::string ModelUtilities::tokenizerRepositoryID(ModelVariant variant) {
  return "openai/whisper-" + std::string(description(variant));
}

std::optional<std::filesystem::path> ModelUtilities::findLocalTokenizerFolder(
    const std::filesystem::path &hubLocation,
    const std::optional<std::filesystem::path> &tokenizerFolder,
    const std::vector<std::filesystem::path> &additionalSearchPaths) {
  std::vector<std::filesystem::path> candidates{hubLocation};
  if (tokenizerFolder) {
    candidates.push_back(*tokenizerFolder);
  }
  candidates.insert(candidates.end(), additionalSearchPaths.begin(), additionalSearchPaths.end());
  for (const auto &candidate : candidates) {
    if (hasTokenizerFile(candidate)) {
      modelslog::debug("Found local tokenizer at " + candidate.string());
      return candidate;
    }
  }
  modelslog::debug("No tokenizer found in any local search paths");
  return std::nullopt;
}

bool ModelUtilities::hasTokenizerFile(const std::filesystem::path &folder) {
  const std::filesystem::path file = folder / "tokenizer.json";
  std::error_code error;
  const bool found = std::filesystem::exists(file, error);
  modelslog::debug("Checking for local tokenizer at " + file.string() + " - " +
                   (found ? "found" : "not found"));
  return found;
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
