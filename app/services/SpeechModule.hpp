#pragma once

#include "DivuvovIze/Models/DecodingOptions.hpp"
#include "DivuvovIze/Models/DivuvovIzeConfig.hpp"
#include "DivuvovIze/Models/TranscriptionResult.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace murmurquill {

// A report of the model download: the share done and the unit counts as the download counts
// them (files or bytes), with the estimated time left when known.
struct SpeechDownloadProgress {
  double fractionCompleted = 0.0;
  std::int64_t completedUnitCount = 0;
  std::int64_t totalUnitCount = 0;
  std::optional<double> estimatedTimeRemaining; // seconds
};

// A speech engine that is loaded and ready to transcribe.
class SpeechEngine {
public:
  virtual ~SpeechEngine() = default;
  // Transcribes 16 kHz mono samples: one result per transcribed stretch, in order. Blocks the
  // calling thread (a worker); one call at a time. Throws on model or decoding failure.
  virtual std::vector<std::shared_ptr<divuvovize::TranscriptionResult>>
  transcribe(const std::vector<float> &audioArray, const divuvovize::DecodingOptions &options) = 0;
};

// What the app needs of the speech module: fetching a model variant and building an engine
// on it. Both calls block a worker thread and throw on failure.
class SpeechModule {
public:
  using ProgressCallback = std::function<void(const SpeechDownloadProgress &)>;

  virtual ~SpeechModule() = default;
  // Fetches the files of `variant` from the module's default model repository into
  // `downloadBase` (files present and current are not fetched again) and returns the variant's
  // local folder. `progress` is called on the downloading thread as the transfer advances.
  virtual std::filesystem::path download(const std::string &variant,
                                         const std::filesystem::path &downloadBase,
                                         const ProgressCallback &progress) = 0;
  // Builds, prewarms and loads an engine as `config` says.
  virtual std::shared_ptr<SpeechEngine> makeEngine(const divuvovize::DivuvovIzeConfig &config) = 0;
};

} // namespace murmurquill
