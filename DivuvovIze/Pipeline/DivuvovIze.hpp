#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DeduveCore/Hub/Progress.hpp"
#include "DivuvovIze/Models/ModelSupportConfig.hpp"

namespace divuvovize {

// The speech engine's entry object. The statics below need no instance: which models suit this
// machine, which a repository offers, and the download of one model variant's folder. Every
// operation blocks on the calling thread and each call makes its own hub client.
class DivuvovIze {
public:
  static constexpr int sampleRate = 16000;
  static constexpr int hopLength = 160;
  static constexpr float secondsPerTimeToken = 0.02f;
  // The engine publisher's repository of converted speech models.
  static constexpr std::string_view defaultModelRepo = "murmurlab/divuvovize-coreml";

  // The hardware model identifier under which model support is looked up.
  static std::string deviceName();

  // The built-in table's models for this device.
  static ModelSupport recommendedModels();
  // The repository's model-support document's models for this device; never fails (the
  // built-in table answers when the document cannot be had).
  static ModelSupport
  recommendedRemoteModels(const std::string &repo,
                          const std::optional<std::filesystem::path> &downloadBase,
                          const std::optional<std::string> &token,
                          const std::string &remoteConfigName, const std::string &endpoint);
  // Lists and downloads the repository's model-support document and decodes it. Every failure
  // is logged and answered with the built-in table.
  static ModelSupportConfig
  fetchModelSupportConfig(const std::string &repo,
                          const std::optional<std::filesystem::path> &downloadBase,
                          const std::optional<std::string> &token,
                          const std::string &remoteConfigName, const std::string &endpoint);
  // The device's supported models matching any of `patterns`, each once, ordered by model size.
  static std::vector<std::string>
  fetchAvailableModels(const std::string &repo, const std::vector<std::string> &patterns,
                       const std::optional<std::filesystem::path> &downloadBase,
                       const std::optional<std::string> &token, const std::string &remoteConfigName,
                       const std::string &endpoint);

  using ProgressCallback = std::function<void(const std::shared_ptr<deduve::Progress> &)>;
  // Finds the one folder of the repository named like `variant` (or, among several, the one
  // with "openai" before the name) and brings its files into the local hub cache at revision
  // "main". Returns <local repository folder>/<folder name>. Throws
  // WhisperError::modelsUnavailable when no single folder matches, and the hub's errors
  // unchanged. `progressCallback` is called from the downloading thread.
  static std::filesystem::path download(const std::string &variant,
                                        const std::optional<std::filesystem::path> &downloadBase,
                                        bool useBackgroundSession, const std::string &repo,
                                        const std::optional<std::string> &token,
                                        const std::string &endpoint,
                                        const ProgressCallback &progressCallback = {});
};

} // namespace divuvovize
