#pragma once

#include "app/services/SpeechModule.hpp"

#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace murmurquill::testing {

// An engine that answers each transcription with scripted texts (one result per text), or
// with an error; it records the takes and options it was given.
class FakeSpeechEngine final : public SpeechEngine {
public:
  std::vector<std::shared_ptr<divuvovize::TranscriptionResult>>
  transcribe(const std::vector<float> &audioArray,
             const divuvovize::DecodingOptions &options) override {
    std::lock_guard lock(mutex);
    takes.push_back(audioArray.size());
    lastOptions = options;
    if (error) {
      throw std::runtime_error(*error);
    }
    std::vector<std::shared_ptr<divuvovize::TranscriptionResult>> results;
    if (textForTake) {
      results.push_back(
          std::make_shared<divuvovize::TranscriptionResult>(textForTake(audioArray.size())));
      return results;
    }
    for (const auto &text : texts) {
      results.push_back(std::make_shared<divuvovize::TranscriptionResult>(text));
    }
    return results;
  }

  std::mutex mutex;
  std::vector<std::string> texts{" Hello world."};
  // When set, each take gives one result with this text for its sample count.
  std::function<std::string(std::size_t)> textForTake;
  std::optional<std::string> error;
  std::vector<std::size_t> takes;
  std::optional<divuvovize::DecodingOptions> lastOptions;
};

// A speech module whose download reports the scripted progress and returns
// <base>/<variant>, and which builds FakeSpeechEngines (or fails as told).
class FakeSpeechModule final : public SpeechModule {
public:
  std::filesystem::path download(const std::string &variant,
                                 const std::filesystem::path &downloadBase,
                                 const ProgressCallback &progress) override {
    downloads.push_back(variant);
    for (const auto &report : reports) {
      progress(report);
    }
    if (downloadError) {
      throw std::runtime_error(*downloadError);
    }
    return downloadBase / variant;
  }

  std::shared_ptr<SpeechEngine> makeEngine(const divuvovize::DivuvovIzeConfig &config) override {
    configs.push_back(config);
    if (buildError) {
      throw std::runtime_error(*buildError);
    }
    engine = std::make_shared<FakeSpeechEngine>();
    return engine;
  }

  std::vector<SpeechDownloadProgress> reports;
  std::optional<std::string> downloadError;
  std::optional<std::string> buildError;
  std::vector<std::string> downloads;
  std::vector<divuvovize::DivuvovIzeConfig> configs;
  std::shared_ptr<FakeSpeechEngine> engine;
};

} // namespace murmurquill::testing
