#include "DeduveCore/Hub/LanguageModelConfigurationFromHub.hpp"

#include "DeduveCore/Hub/HubClientError.hpp"
#include "DeduveCore/Hub/TextFile.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "platform/net/UrlError.hpp"
#include "platform/system/RunInBackground.hpp"
#include "platform/system/ThreadPool.hpp"
#include "platform/text/Excerpt.hpp"

#include <vector>

namespace deduve {

namespace fs = std::filesystem;
using Hub::HubClientError;

namespace {

// The three main documents: client errors as they are, anything else as a file-system error.
Config readDocument(const fs::path &file) {
  try {
    return HubApi::configuration(file);
  } catch (const HubClientError &) {
    throw;
  } catch (const nlohmann::json::exception &error) {
    throw HubClientError::parseError("Invalid JSON format: " +
                                     platform::boundedMessage(error.what()));
  } catch (const std::exception &error) {
    throw HubClientError::fileSystemError(error.what());
  }
}

bool isRegularFile(const fs::path &file) {
  std::error_code error;
  return fs::is_regular_file(file, error);
}

// An unreadable or malformed template file means no template.
std::optional<std::string> chatTemplate(const fs::path &folder) {
  const fs::path jinja = folder / "chat_template.jinja";
  std::error_code error;
  if (fs::exists(jinja, error)) {
    try {
      std::string text = readWholeFile(jinja);
      if (!isValidUtf8(text)) {
        return std::nullopt;
      }
      return text;
    } catch (const std::exception &) {
      return std::nullopt;
    }
  }
  const fs::path json = folder / "chat_template.json";
  if (!fs::exists(json, error)) {
    return std::nullopt;
  }
  try {
    const Config document = Config::parse(readWholeFile(json));
    return document["chatTemplate"].stringValue();
  } catch (const std::exception &) {
    return std::nullopt;
  }
}

std::optional<std::string> modelTypeOf(const std::optional<Config> &modelConfig) {
  if (!modelConfig) {
    return std::nullopt;
  }
  return (*modelConfig)["modelType"].stringValue();
}

// The dictionary's entries with `key` set to `value` (replacing an entry of that name in place).
Config withEntry(const Config &config, const std::string &key, const Config &value) {
  std::vector<Config::Dictionary::Entry> entries;
  if (const auto *dictionary = config.dictionaryValue()) {
    entries = dictionary->entries();
  }
  const BinaryDistinctString binaryKey(key);
  bool replaced = false;
  for (auto &entry : entries) {
    if (entry.first == binaryKey) {
      entry.second = value;
      replaced = true;
    }
  }
  if (!replaced) {
    entries.emplace_back(binaryKey, value);
  }
  return Config(Config::Dictionary(std::move(entries)));
}

} // namespace

LanguageModelConfigurationFromHub::LanguageModelConfigurationFromHub(const std::string &modelName,
                                                                     const std::string &revision,
                                                                     HubApiWrapper hubApi)
    : configPromise_(
          platform::runOnPool(platform::ThreadPool::shared(), [modelName, revision,
                                                               hubApi = std::move(hubApi)] {
            return loadConfig(modelName, revision, hubApi);
          }).share()) {}

LanguageModelConfigurationFromHub::LanguageModelConfigurationFromHub(const fs::path &modelFolder,
                                                                     HubApiWrapper hubApi)
    : configPromise_(
          platform::runOnPool(platform::ThreadPool::shared(), [modelFolder,
                                                               hubApi = std::move(hubApi)] {
            return loadConfig(modelFolder, hubApi);
          }).share()) {}

LanguageModelConfigurationFromHub::~LanguageModelConfigurationFromHub() {
  if (configPromise_.valid()) {
    configPromise_.wait();
  }
}

LanguageModelConfigurationFromHub::Configurations LanguageModelConfigurationFromHub::loadConfig(
    const std::string &modelName, const std::string &revision, const HubApiWrapper &hubApi) {
  try {
    const auto folder =
        hubApi.snapshot(HubApiWrapper::Repo(modelName, HubApiWrapper::RepoType::models), revision,
                        {"config.json", "tokenizer_config.json", "chat_template.jinja",
                         "chat_template.json", "tokenizer.json"},
                        [](const auto &) {});
    return loadConfig(folder, hubApi);
  } catch (const platform::UrlError &error) {
    throw networkFailure(error, modelName);
  }
}

HubClientError LanguageModelConfigurationFromHub::networkFailure(const platform::UrlError &error,
                                                                 const std::string &modelName) {
  if (error.code() == platform::UrlError::Code::resourceUnavailable) {
    return HubClientError::resourceNotFound(modelName);
  }
  return HubClientError::networkError(error);
}

LanguageModelConfigurationFromHub::Configurations
LanguageModelConfigurationFromHub::loadConfig(const fs::path &modelFolder, const HubApiWrapper &) {
  Configurations configurations;

  const fs::path modelConfigFile = modelFolder / "config.json";
  if (isRegularFile(modelConfigFile)) {
    configurations.modelConfig = readDocument(modelConfigFile);
  }
  const fs::path tokenizerDataFile = modelFolder / "tokenizer.json";
  if (!isRegularFile(tokenizerDataFile)) {
    throw HubClientError::configurationMissing("tokenizer.json");
  }
  configurations.tokenizerData = readDocument(tokenizerDataFile);
  const fs::path tokenizerConfigFile = modelFolder / "tokenizer_config.json";
  if (isRegularFile(tokenizerConfigFile)) {
    configurations.tokenizerConfig = readDocument(tokenizerConfigFile);
  }

  if (const auto chat = chatTemplate(modelFolder)) {
    const Config base = configurations.tokenizerConfig ? *configurations.tokenizerConfig
                                                       : Config(Config::Dictionary());
    configurations.tokenizerConfig = withEntry(base, "chat_template", Config(*chat));
  }
  return configurations;
}

std::optional<Config> LanguageModelConfigurationFromHub::tokenizerConfig() const {
  const Configurations &loaded = configPromise_.get();
  if (!loaded.tokenizerConfig) {
    return std::nullopt;
  }
  const Config &config = *loaded.tokenizerConfig;
  if (config.dictionaryValue() != nullptr && config["tokenizerClass"].stringValue()) {
    return config;
  }
  const auto type = modelTypeOf(loaded.modelConfig);
  if (!type) {
    return config;
  }
  return withEntry(config, "tokenizer_class", Config(capitalized(*type) + "Tokenizer"));
}

std::optional<std::string> LanguageModelConfigurationFromHub::modelType() const {
  return modelTypeOf(configPromise_.get().modelConfig);
}

std::optional<Config> LanguageModelConfigurationFromHub::modelConfig() const {
  return configPromise_.get().modelConfig;
}

Config LanguageModelConfigurationFromHub::tokenizerData() const {
  return configPromise_.get().tokenizerData;
}

LanguageModelConfigurationFromHub::Configurations
LanguageModelConfigurationFromHub::configurations() const {
  return configPromise_.get();
}

std::string LanguageModelConfigurationFromHub::capitalized(const std::string &text) {
  return capitalizeWords(text);
}

} // namespace deduve
