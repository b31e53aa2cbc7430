#include "DivuvovIze/Models/ModelSupportConfig.hpp"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "DeduveCore/Support/Config.hpp"

#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/TextUtilities.hpp"

namespace divuvovize {

namespace {

const char *const kFallbackRepoName = "divuvovize-coreml-fallback";

// A model-support document nests three levels; anything near this is not one.
constexpr int kMaxDocumentDepth = 64;

// The parsed value as the decoder reads it. Objects are built by appending their entries: the
// reader already kept one entry per key, and an ordered document's own insertion searches its
// entries for the key each time, which makes a document of many keys cost their square.
Json documentOf(const deduve::Config &value, int depth, const std::string &source) {
  using Kind = deduve::Config::Kind;
  if (value.kind() != Kind::dictionary && value.kind() != Kind::array) {
    return value.encode();
  }
  if (depth >= kMaxDocumentDepth) {
    throw std::runtime_error(source + ": nested more than " + std::to_string(kMaxDocumentDepth) +
                             " levels deep");
  }
  if (value.kind() == Kind::array) {
    Json list = Json::array();
    for (const auto &element : *value.arrayValue()) {
      list.push_back(documentOf(element, depth + 1, source));
    }
    return list;
  }
  Json object = Json::object();
  auto &entries = static_cast<Json::object_t::Container &>(object.get_ref<Json::object_t &>());
  const auto &dictionary = *value.dictionaryValue();
  entries.reserve(dictionary.size());
  for (const auto &[key, entry] : dictionary) {
    entries.emplace_back(key.string(), documentOf(entry, depth + 1, source));
  }
  return object;
}

void appendUnique(std::vector<std::string> &list, std::set<std::string> &seen,
                  const std::vector<std::string> &items) {
  for (const auto &item : items) {
    if (seen.insert(item).second) {
      list.push_back(item);
    }
  }
}

} // namespace

Json ModelSupport::toJson() const {
  Json document = Json::object();
  document["default"] = defaultModel;
  document["supported"] = supported;
  return document;
}

ModelSupport ModelSupport::fromJson(const Json &document, const std::string &path) {
  const json::ObjectReader reader(document, path);
  ModelSupport support;
  support.defaultModel = reader.required<std::string>("default");
  support.supported = reader.required<std::vector<std::string>>("supported");
  return support;
}

Json DeviceSupport::toJson() const {
  Json document = Json::object();
  if (chips) {
    document["chips"] = *chips;
  }
  document["identifiers"] = identifiers;
  document["models"] = models.toJson();
  return document;
}

DeviceSupport DeviceSupport::fromJson(const Json &document, const std::string &path) {
  const json::ObjectReader reader(document, path);
  DeviceSupport support;
  support.chips = reader.optional<std::string>("chips");
  support.identifiers = reader.required<std::vector<std::string>>("identifiers");
  support.models = reader.required<ModelSupport>("models");
  return support;
}

std::vector<DeviceSupport> mergeDeviceSupports(const std::vector<DeviceSupport> &given,
                                               const std::vector<DeviceSupport> &fallback) {
  std::set<std::string> givenIdentifiers;
  for (const auto &row : given) {
    givenIdentifiers.insert(row.identifiers.begin(), row.identifiers.end());
  }
  std::vector<DeviceSupport> merged;
  merged.reserve(given.size() + fallback.size());
  for (const auto &row : given) {
    const auto shares = [&row](const DeviceSupport &candidate) {
      return std::any_of(candidate.identifiers.begin(), candidate.identifiers.end(),
                         [&row](const std::string &id) {
                           return std::find(row.identifiers.begin(), row.identifiers.end(), id) !=
                                  row.identifiers.end();
                         });
    };
    const auto match = std::find_if(fallback.begin(), fallback.end(), shares);
    if (match == fallback.end()) {
      merged.push_back(row);
      continue;
    }
    DeviceSupport combined = row;
    combined.models.supported.clear();
    combined.models.disabled.clear();
    std::set<std::string> seen;
    appendUnique(combined.models.supported, seen, row.models.supported);
    appendUnique(combined.models.supported, seen, match->models.supported);
    merged.push_back(std::move(combined));
  }
  for (const auto &row : fallback) {
    const bool taken =
        std::any_of(row.identifiers.begin(), row.identifiers.end(),
                    [&](const std::string &id) { return givenIdentifiers.count(id) > 0; });
    if (!taken) {
      merged.push_back(row);
    }
  }
  return merged;
}

ModelSupportConfig::ModelSupportConfig(std::string repoName, std::string repoVersion,
                                       std::vector<DeviceSupport> deviceSupports,
                                       bool includeFallback)
    : repoName_(std::move(repoName)), repoVersion_(std::move(repoVersion)),
      deviceSupports_(std::move(deviceSupports)) {
  if (includeFallback && std::string_view(kFallbackRepoName).find(repoName_) != std::string::npos) {
    deviceSupports_ = mergeDeviceSupports(deviceSupports_, Constants::fallbackDeviceSupports());
  }
  computeDerivedFields();
}

void ModelSupportConfig::computeDerivedFields() {
  knownModels_.clear();
  std::set<std::string> seen;
  for (const auto &row : deviceSupports_) {
    appendUnique(knownModels_, seen, row.models.supported);
  }
  defaultSupport_ =
      DeviceSupport{std::nullopt, {}, ModelSupport{"openai_whisper-base", knownModels_, {}}};
  for (auto &row : deviceSupports_) {
    const std::set<std::string> supported(row.models.supported.begin(), row.models.supported.end());
    row.models.disabled.clear();
    for (const auto &model : knownModels_) {
      if (supported.count(model) == 0) {
        row.models.disabled.push_back(model);
      }
    }
  }
}

ModelSupport ModelSupportConfig::modelSupport(const std::string &deviceIdentifier) const {
  const DeviceSupport *best = nullptr;
  std::size_t bestLength = 0;
  for (const auto &row : deviceSupports_) {
    for (const auto &identifier : row.identifiers) {
      if (deviceIdentifier.compare(0, identifier.size(), identifier) != 0 ||
          deviceIdentifier.size() < identifier.size()) {
        continue;
      }
      if (best == nullptr || identifier.size() > bestLength) {
        best = &row;
        bestLength = identifier.size();
      }
    }
  }
  if (best != nullptr) {
    modelslog::debug("Matched " + deviceIdentifier +
                     " to devices: " + describeList(best->identifiers));
    return best->models;
  }
  modelslog::info("No device support found for " + deviceIdentifier + ", using default");
  return defaultSupport_.models;
}

Json ModelSupportConfig::toJson() const {
  Json document = Json::object();
  document["name"] = repoName_;
  document["version"] = repoVersion_;
  Json rows = Json::array();
  for (const auto &row : deviceSupports_) {
    rows.push_back(row.toJson());
  }
  document["device_support"] = std::move(rows);
  return document;
}

ModelSupportConfig ModelSupportConfig::parse(std::string_view text, const std::string &path) {
  return fromJson(documentOf(deduve::Config::parse(text), 0, path), path);
}

ModelSupportConfig ModelSupportConfig::fromJson(const Json &document, const std::string &path) {
  const json::ObjectReader reader(document, path);
  auto name = reader.required<std::string>("name");
  auto version = reader.required<std::string>("version");
  auto rows = reader.required<std::vector<DeviceSupport>>("device_support");
  return ModelSupportConfig(std::move(name), std::move(version), std::move(rows),
                            /*includeFallback=*/true);
}

} // namespace divuvovize
