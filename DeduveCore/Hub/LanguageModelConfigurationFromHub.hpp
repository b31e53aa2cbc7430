#pragma once

#include "DeduveCore/Hub/HubApiWrapper.hpp"
#include "DeduveCore/Hub/HubClientError.hpp"
#include "DeduveCore/Support/Config.hpp"
#include "platform/net/UrlError.hpp"

#include <filesystem>
#include <future>
#include <optional>
#include <string>

namespace deduve {

// The JSON documents that describe a language model's tokenizer: "config.json",
// "tokenizer_config.json" (with the chat template merged in), "tokenizer.json". Loaded once per
// instance, on the shared thread pool, from a hub repository (through a snapshot)
// or from a local folder. Every reader waits for that load and gets its result or its error
// (Hub::HubClientError for missing or unreadable documents and network failures).
//
// Thread-safety: the readers may be called from any thread. Destroying the instance waits for
// a load still running.
class LanguageModelConfigurationFromHub {
public:
  struct Configurations {
    std::optional<Config> modelConfig;     // config.json
    std::optional<Config> tokenizerConfig; // tokenizer_config.json, with "chat_template"
    Config tokenizerData;                  // tokenizer.json
  };

  // Loads the documents of the model repository `modelName` at `revision` through a snapshot
  // into <downloadBase>/models/<modelName>. Pass a std::string (a literal is ambiguous with
  // the folder form).
  LanguageModelConfigurationFromHub(const std::string &modelName,
                                    const std::string &revision = "main",
                                    HubApiWrapper hubApi = HubApiWrapper::shared());
  // Loads the documents of a local folder.
  explicit LanguageModelConfigurationFromHub(const std::filesystem::path &modelFolder,
                                             HubApiWrapper hubApi = HubApiWrapper::shared());
  ~LanguageModelConfigurationFromHub();
  LanguageModelConfigurationFromHub(const LanguageModelConfigurationFromHub &) = default;
  LanguageModelConfigurationFromHub &operator=(const LanguageModelConfigurationFromHub &) = default;

  // The tokenizer configuration; when it names no string "tokenizer_class", one is derived
  // from the model type ("whisper" gives "WhisperTokenizer"). Absent without a document.
  std::optional<Config> tokenizerConfig() const;
  // The string "model_type" of config.json, when there is one.
  std::optional<std::string> modelType() const;
  std::optional<Config> modelConfig() const;
  Config tokenizerData() const;
  Configurations configurations() const;

  static Configurations loadConfig(const std::string &modelName, const std::string &revision,
                                   const HubApiWrapper &hubApi);
  static Configurations loadConfig(const std::filesystem::path &modelFolder,
                                   const HubApiWrapper &hubApi);

  // The client error for a network failure while loading `modelName` from the hub: a resource
  // the network reports unavailable is resourceNotFound(modelName), any other failure
  // networkError(error).
  static Hub::HubClientError networkFailure(const platform::UrlError &error,
                                            const std::string &modelName);

  // Every blank-separated word with its first character upper-cased and the rest lower-cased.
  static std::string capitalized(const std::string &text);

private:
  std::shared_future<Configurations> configPromise_;
};

} // namespace deduve
